// The style and script of the --html page, inline in every page: it must open offline,
// with nothing fetched. The script reads the plots' description and the per-frame values
// from the page and draws SVG plots (lines, so that 10,000 frames stay readable) and the
// damage strip; anything that goes wrong is noted in #problems for the tests to read.
namespace framecmp {

extern const char* const kHtmlStyle;
extern const char* const kHtmlScript;

const char* const kHtmlStyle = R"CSS(
body { font: 15px/1.45 system-ui, sans-serif; margin: 0 auto; padding: 1em; max-width: 1100px;
  color: #1a1a1a; background: #fff; }
h2 { font-size: 1.1em; margin: 1.6em 0 .4em; }
#verdict { font-size: 1.15em; font-weight: 600; padding: .6em .8em; border-left: 6px solid;
  white-space: pre-wrap; margin: 0 0 1em; }
#verdict.same { border-color: #009E73; background: #e8f6f1; }
#verdict.differ { border-color: #D55E00; background: #fbeee6; }
table { border-collapse: collapse; margin: .4em 0; }
th, td { padding: .2em .6em; text-align: left; vertical-align: top; border-bottom: 1px solid #ddd; }
td { font-variant-numeric: tabular-nums; }
.facts code { word-break: break-all; }
.note { color: #555; font-size: .9em; margin: .2em 0 .6em; }
.plot { margin: 0 0 1.2em; position: relative; }
.plot h3 { font-size: 1em; margin: .2em 0; }
.plot svg { width: 100%; height: auto; display: block; }
.plot .axis { stroke: #888; stroke-width: 1; }
.plot .grid { stroke: #e4e4e4; stroke-width: 1; }
.plot text { font-size: 11px; fill: #444; }
.plot polyline { fill: none; stroke-width: 1.5; vector-effect: non-scaling-stroke; }
.plot .identical { stroke: #999; stroke-dasharray: 4 3; }
.plot .cursor { stroke: #333; stroke-width: 1; }
.tip { position: absolute; top: 1.6em; right: 0; background: rgba(255,255,255,.95);
  border: 1px solid #bbb; padding: .2em .5em; font-size: .85em; pointer-events: none;
  white-space: pre; }
#strip { width: 100%; height: 60px; image-rendering: pixelated; cursor: crosshair;
  border: 1px solid #ccc; }
#frame-values { font-size: .85em; white-space: pre-wrap; }
.pair { display: flex; flex-wrap: wrap; gap: 1em; align-items: flex-start; }
.pair img { max-width: 100%; min-width: min(100%, 360px); image-rendering: pixelated;
  border: 1px solid #ccc; }
.dumps pre { font-size: 11px; line-height: 1.25; margin: 0 0 1em; overflow-x: auto; }
@media (max-width: 600px) { body { font-size: 14px; padding: .5em; } th, td { padding: .15em .3em; } }
@media print { .tip, #strip, #frame-values { display: none; } body { max-width: none; } }
)CSS";

const char* const kHtmlScript = R"JS(
(function () {
  'use strict';
  var problems = document.getElementById('problems');
  function note(text) {
    problems.hidden = false;
    problems.textContent += text + '\n';
    problems.dataset.count = String(Number(problems.dataset.count) + 1);
  }
  window.addEventListener('error', function (e) { note('error: ' + e.message); });
  document.addEventListener('securitypolicyviolation', function (e) {
    note('blocked: ' + e.blockedURI);
  });
  var plots = JSON.parse(document.getElementById('plot-list').textContent);
  var lines = document.getElementById('values').textContent.split('\n');
  var frames = [], columns = [];
  var count = 0;
  plots.forEach(function (p) { p.series.forEach(function () { columns.push([]); count++; }); });
  lines.forEach(function (line) {
    if (!line) return;
    var f = line.split(' ');
    frames.push(Number(f[0]));
    for (var i = 0; i < count; i++) {
      var t = f[i + 1];
      columns[i].push(t === 'inf' ? Infinity : t === '-inf' ? -Infinity :
                      t === 'nan' || t === undefined ? NaN : Number(t));
    }
  });
  var colours = ['#0072B2', '#E69F00', '#009E73', '#CC79A7', '#D55E00', '#56B4E9', '#000000'];
  var NS = 'http://www.w3.org/2000/svg';
  function el(name, attributes, parent) {
    var e = document.createElementNS(NS, name);
    for (var k in attributes) e.setAttribute(k, attributes[k]);
    if (parent) parent.appendChild(e);
    return e;
  }
  function format(v) {
    if (v === Infinity) return 'identical';
    if (isNaN(v)) return '-';
    return Math.abs(v) >= 1e5 || Number.isInteger(v) ? String(v) : v.toPrecision(6);
  }
  var W = 1000, H = 240, L = 64, R = 12, T = 10, B = 34;
  var section = document.getElementById('plots');
  function drawPlot(p) {
    var box = document.createElement('div');
    box.className = 'plot';
    var title = document.createElement('h3');
    title.textContent = p.title + (p.unit ? ' (' + p.unit + ')' : '');
    box.appendChild(title);
    var svg = el('svg', { viewBox: '0 0 ' + W + ' ' + H, role: 'img',
                          'aria-label': p.title + ' per frame' }, box);
    var lo = Infinity, hi = -Infinity, identical = false;
    p.series.forEach(function (s) {
      columns[s.column].forEach(function (v) {
        if (v === Infinity) identical = true;
        else if (isFinite(v)) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
      });
    });
    if (lo === Infinity) { lo = 0; hi = 1; }
    if (hi === lo) { hi = lo + 1; }
    var top = identical ? hi + (hi - lo) * 0.12 : hi;
    var n = frames.length;
    function x(i) { return L + (n > 1 ? i / (n - 1) : 0.5) * (W - L - R); }
    function y(v) { return T + (1 - ((v === Infinity ? top : v) - lo) / (top - lo)) * (H - T - B); }
    for (var k = 0; k <= 4; k++) {
      var v = lo + (hi - lo) * k / 4, yy = y(v);
      el('line', { x1: L, x2: W - R, y1: yy, y2: yy, 'class': 'grid' }, svg);
      el('text', { x: L - 6, y: yy + 4, 'text-anchor': 'end' }, svg).textContent = String(+v.toPrecision(4));
    }
    if (identical) {
      el('line', { x1: L, x2: W - R, y1: y(Infinity), y2: y(Infinity), 'class': 'identical' }, svg);
      el('text', { x: L - 6, y: y(Infinity) + 4, 'text-anchor': 'end' }, svg).textContent = 'identical';
    }
    el('line', { x1: L, x2: L, y1: T, y2: H - B, 'class': 'axis' }, svg);
    el('line', { x1: L, x2: W - R, y1: H - B, y2: H - B, 'class': 'axis' }, svg);
    for (var t = 0; t <= 5 && n > 0; t++) {
      var i = Math.round((n - 1) * t / 5);
      el('text', { x: x(i), y: H - B + 16, 'text-anchor': 'middle' }, svg).textContent = String(frames[i]);
    }
    el('text', { x: (L + W - R) / 2, y: H - 4, 'text-anchor': 'middle' }, svg).textContent = 'frame';
    p.series.forEach(function (s, si) {
      var values = columns[s.column], points = [], lowest = -1;
      for (var i = 0; i < n; i++) {
        var v = values[i];
        if (isNaN(v) || v === -Infinity) continue;
        points.push(x(i).toFixed(1) + ',' + y(v).toFixed(1));
        if (isFinite(v) && (lowest < 0 || v < values[lowest])) lowest = i;
      }
      var colour = colours[si % colours.length];
      el('polyline', { points: points.join(' '), stroke: colour, 'data-label': s.label }, svg);
      // Few frames get their points too; many are a line.
      if (n <= 300) {
        for (var j = 0; j < n; j++) {
          if (!isNaN(values[j]) && values[j] !== -Infinity)
            el('circle', { cx: x(j), cy: y(values[j]), r: 2.5, fill: colour, 'class': 'point' }, svg);
        }
      }
      if (lowest >= 0) {
        el('circle', { cx: x(lowest), cy: y(values[lowest]), r: 6, fill: 'none', stroke: colour,
                       'stroke-width': 2, 'class': 'lowest' }, svg);
      }
    });
    var legend = p.series.map(function (s, si) { return s.label; }).join(', ');
    title.textContent += ': ' + legend;
    var tip = document.createElement('div');
    tip.className = 'tip';
    tip.hidden = true;
    box.appendChild(tip);
    var cursor = el('line', { y1: T, y2: H - B, 'class': 'cursor', visibility: 'hidden' }, svg);
    svg.addEventListener('mousemove', function (e) {
      var r = svg.getBoundingClientRect();
      var fx = (e.clientX - r.left) / r.width * W;
      var i = Math.max(0, Math.min(n - 1, Math.round((fx - L) / (W - L - R) * (n - 1))));
      cursor.setAttribute('x1', x(i));
      cursor.setAttribute('x2', x(i));
      cursor.setAttribute('visibility', 'visible');
      tip.hidden = false;
      tip.textContent = 'frame ' + frames[i] + '\n' + p.series.map(function (s) {
        return s.label + ' ' + format(columns[s.column][i]);
      }).join('\n');
    });
    svg.addEventListener('mouseleave', function () {
      tip.hidden = true;
      cursor.setAttribute('visibility', 'hidden');
    });
    section.appendChild(box);
  }
  if (section) plots.forEach(drawPlot);
  // The damage strip: a column per frame (or per group of frames), a row per plane.
  var strip = document.getElementById('strip');
  var damage = plots.filter(function (p) { return p.damage; })[0];
  if (strip && damage && frames.length > 0) {
    var n = frames.length, wide = Math.min(n, 2000), rows = damage.series.length;
    strip.width = wide;
    strip.height = rows * 10;
    var g = strip.getContext('2d');
    var most = 0;
    damage.series.forEach(function (s) {
      columns[s.column].forEach(function (v) { if (v > most) most = v; });
    });
    damage.series.forEach(function (s, r) {
      for (var c = 0; c < wide; c++) {
        var first = Math.floor(c * n / wide), last = Math.max(first + 1, Math.floor((c + 1) * n / wide));
        var v = 0;
        for (var i = first; i < last; i++) v = Math.max(v, columns[s.column][i] || 0);
        var a = v > 0 ? 0.15 + 0.85 * Math.log(1 + v) / Math.log(1 + most) : 0;
        g.fillStyle = v > 0 ? 'rgba(0, 60, 140, ' + a.toFixed(3) + ')' : '#f4f4f4';
        g.fillRect(c, r * 10, 1, 9);
      }
    });
    var shown = document.getElementById('frame-values');
    strip.addEventListener('click', function (e) {
      var rect = strip.getBoundingClientRect();
      var i = Math.max(0, Math.min(n - 1, Math.floor((e.clientX - rect.left) / rect.width * n)));
      var parts = ['frame ' + frames[i]];
      plots.forEach(function (p) {
        p.series.forEach(function (s) {
          parts.push(p.title + (p.series.length > 1 ? ' ' + s.label : '') + ' ' + format(columns[s.column][i]));
        });
      });
      shown.textContent = parts.join(', ');
    });
  }
  document.body.dataset.frames = String(frames.length);
  document.body.dataset.resources = String(performance.getEntriesByType('resource').length);
  document.body.dataset.ready = 'yes';
})();
)JS";

}  // namespace framecmp
