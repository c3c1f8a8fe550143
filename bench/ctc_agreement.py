#!/usr/bin/env python3
"""The largest difference between framecmp's AOM CTC metrics and the vmaf tool's, per metric.

Usage: ctc_agreement.py VMAF FRAMECMP REF DIST WIDTH HEIGHT FORMAT DEPTH [METRICS]
FORMAT is 420, 422 or 444. Both tools read the same raw files; every per-frame value,
the pooled mean and the APSNR aggregates are compared. The vmaf tool prints 6 decimals
unless it was built to print more.
"""
import json
import subprocess
import sys
import tempfile

FEATURES = {
    "aom-psnr": ("psnr=reduced_hbd_peak=true:enable_apsnr=true:min_sse=0.5",
                 ["psnr_y", "psnr_cb", "psnr_cr"]),
    "vmaf-ssim": ("float_ssim=scale=1", ["float_ssim"]),
    "ms-ssim": ("float_ms_ssim", ["float_ms_ssim"]),
    "psnr-hvs": ("psnr_hvs", ["psnr_hvs_y", "psnr_hvs_cb", "psnr_hvs_cr", "psnr_hvs"]),
    "ciede2000": ("ciede", ["ciede2000"]),
    "vmaf": ("model:version=vmaf_v0.6.1:name=vmaf",
             ["integer_adm2", "integer_aim", "integer_adm3"]
             + ["integer_adm_scale%d" % i for i in range(4)]
             + ["VMAF_integer_feature_motion_sad_score"]
             + ["integer_vif_scale%d" % i for i in range(4)]
             + ["integer_motion2", "integer_motion3", "vmaf"]),
    "vmaf-neg": ("model:version=vmaf_v0.6.1neg:name=vmaf_neg",
                 ["integer_adm2_egl_1", "integer_aim_egl_1", "integer_adm3_egl_1"]
                 + ["integer_adm_scale%d_egl_1" % i for i in range(4)]
                 + ["integer_vif_scale%d_egl_1" % i for i in range(4)] + ["vmaf_neg"]),
    "cambi": ("cambi", ["cambi"]),
}
PIX_FMT = {("420", 8): "yuv420p", ("422", 8): "yuv422p", ("444", 8): "yuv444p"}


def main():
    vmaf, framecmp, ref, dist, width, height, layout, depth = sys.argv[1:9]
    metrics = sys.argv[9].split(",") if len(sys.argv) > 9 else list(FEATURES)
    depth = int(depth)
    pix_fmt = PIX_FMT.get((layout, depth)) or "yuv%sp%dle" % (layout, depth)
    with tempfile.NamedTemporaryFile(suffix=".json") as log:
        command = [vmaf, "-r", ref, "-d", dist, "-w", width, "-h", height, "-p", layout,
                   "-b", str(depth), "-q", "--json", "-o", log.name]
        models = [FEATURES[m][0] for m in metrics if FEATURES[m][0].startswith("model:")]
        if not models:
            command.append("-n")
        for metric in metrics:
            option = FEATURES[metric][0]
            if option.startswith("model:"):
                command += ["--model", option[len("model:"):]]
            else:
                command += ["--feature", option]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        theirs = json.load(open(log.name))
    ours = json.loads(subprocess.run(
        [framecmp, "--report=frames", "--json", "--size=%sx%s" % (width, height),
         "--pix-fmt=" + pix_fmt, "--metric=" + ",".join(metrics), dist, ref],
        capture_output=True, text=True).stdout)
    for metric in metrics:
        for key in FEATURES[metric][1]:
            worst = max(abs(o[key] - t["metrics"][key])
                        for o, t in zip(ours["frames"], theirs["frames"]))
            worst = max(worst, abs(ours[key] - theirs["pooled_metrics"][key]["mean"]))
            print("%-14s %.3g" % (key, worst))
    for key, value in theirs.get("aggregate_metrics", {}).items():
        print("%-14s %.3g" % (key, abs(ours[key] - value)))


if __name__ == "__main__":
    main()
