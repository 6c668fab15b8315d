#!/usr/bin/env python3
"""Speed ratios of our code to its reference from Google Benchmark JSON files.

Usage: ratios.py RESULT.json...  (runs made with --benchmark_repetitions and
--benchmark_out_format=json). Each row divides the reference's median CPU time
by ours, both measured in the same program run: above 1 ours is faster. Runs
timed in real time (the PC/SC round trips, which wait on another process) are
compared in real time.
ratios.py --plan prints, per row, the benchmark program and a filter that
selects the row's pair, so that a pair can be run by itself.
"""
import json
import re
import sys

# (operation, size, ours, reference, goal); names as the benchmarks report them.
# The program of each row is found by the prefix of its names.
PROGRAMS = [("Ours_R3411", "hash_bench"), ("Ours_SHA", "hash_bench"), ("Ours_GOST", "gost_bench"),
            ("BM_Ours_", "asym_bench"), ("BM_Ours", "block_cipher_bench"), ("BM_CardService", "pcsc_bench"),
            ("BM_Qxw", "startup_bench")]
ROWS = [
    ("GOST R 34.11-94", "1 MiB", "Ours_R3411_94/1048576", "Provider_md_gost94/1048576", 3.0),
    ("GOST R 34.11-2012 256", "1 MiB", "Ours_R3411_12_256/1048576", "Provider_md_gost12_256/1048576", 1.2),
    ("GOST R 34.11-2012 512", "1 MiB", "Ours_R3411_12_512/1048576", "Provider_md_gost12_512/1048576", 1.2),
    ("GOST 28147-89 CFB, meshing", "1 MiB", "Ours_GOST28147_CFB_Meshing/1048576", "Provider_gost89/1048576", 1.4),
    ("GOST 28147-89 MAC", "1 MiB", "Ours_GOST28147_MAC/1048576", "Provider_gost_mac/1048576", 1.5),
    ("GOST R 34.12 64-bit CBC", "1 MiB", "Ours_GOST3412M_CBC/1048576", "Provider_magma_cbc/1048576", 1.4),
    ("GOST R 34.12 64-bit MAC", "1 MiB", "Ours_GOST3412M_MAC/1048576", "Provider_magma_mac/1048576", 1.5),
    ("GOST R 34.12 64-bit CTR", "1 MiB", "Ours_GOST3412M_CTR/1048576", "Provider_magma_ctr/1048576", 2.0),
    ("AES-128 CBC", "64 B", "BM_OursAES/AES128_CBC/64", "BM_Evp/EVP_AES_128_CBC/64", 0.91),
    ("AES-128 CBC", "1 MiB", "BM_OursAES/AES128_CBC/1048576", "BM_Evp/EVP_AES_128_CBC/1048576", 0.95),
    ("SHA-256", "64 B", "Ours_SHA256/64", "OpenSSL_SHA256/64", 0.91),
    ("ECDSA P-256 sign", "-", "BM_Ours_ECDSA_P256_Sign", "BM_OpenSSL_ECDSA_P256_Named_Sign", 0.91),
    ("ECDSA P-256 verify", "-", "BM_Ours_ECDSA_P256_Verify", "BM_OpenSSL_ECDSA_P256_Named_Verify", 0.91),
    # Kept at their goals.
    ("GOST 28147-89 ECB (keep)", "1 MiB", "Ours_GOST28147_ECB/1048576", "Provider_gost89_cnt/1048576", 2.0),
    ("GOST 28147-89 counter, meshing (keep)", "1 MiB", "Ours_GOST28147_Counter_Meshing/1048576",
     "Provider_gost89_cnt/1048576", 2.0),
    ("GOST R 34.12 64-bit ECB (keep)", "1 MiB", "Ours_GOST3412M_ECB/1048576", "Provider_magma_ctr/1048576", 2.0),
    ("Triple DES CBC (keep)", "1 MiB", "BM_OursTriDES/TriDES_CBC/1048576", "BM_Evp/EVP_DES_EDE_CBC/1048576", 0.91),
    ("GOST R 34.10 sign (keep)", "-", "BM_Ours_GOST3410_256_Sign", "BM_OpenSSL_ECDSA_GostCurve_Sign", 0.91),
    ("GOST R 34.10 verify (keep)", "-", "BM_Ours_GOST3410_256_Verify", "BM_OpenSSL_ECDSA_GostCurve_Verify", 0.91),
    ("card service + PC/SC (keep)", "-", "BM_CardServiceOverPcscReader/real_time", "BM_BareSCardTransmit/real_time",
     1 / 1.1),
    # No fixed ratio: kept as it was before a change.
    ("qxw start-up beside /bin/true (keep)", "-", "BM_QxwHelp/real_time", "BM_ProcessStart/real_time", None),
]


def medians(path):
    times = {}
    with open(path) as f:
        for run in json.load(f)["benchmarks"]:
            if run.get("aggregate_name") == "median":
                name = run["run_name"]
                times[name] = run["real_time" if name.endswith("/real_time") else "cpu_time"]
    return times


def plan():
    for _, _, ours, reference, _ in ROWS:
        program = next(p for prefix, p in PROGRAMS if ours.startswith(prefix))
        names = [n.removesuffix("/real_time") for n in (ours, reference)]
        print(f"{program}\t^({'|'.join(re.escape(n) for n in names)})(/real_time)?$")


def main():
    if sys.argv[1:] == ["--plan"]:
        return plan()
    runs = [medians(path) for path in sys.argv[1:]]
    print("| operation | size | ratio | goal |")
    print("|---|---|---|---|")
    for name, size, ours, reference, goal in ROWS:
        # Both sides of a row from the same run.
        times = next((t for t in runs if ours in t and reference in t), None)
        goalText = "as before" if goal is None else f"{goal:.2f}"
        if times is None:
            print(f"| {name} | {size} | not run | {goalText} |")
            continue
        ratio = times[reference] / times[ours]
        if goal is not None:
            goalText = f"{'>=' if ratio >= goal else 'below'} {goalText}"
        print(f"| {name} | {size} | {ratio:.2f} | {goalText} |")


if __name__ == "__main__":
    main()
