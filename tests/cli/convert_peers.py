#!/usr/bin/env python3
"""Our EDF+ and DICOM ECG files read by readers we did not write: MNE, pydicom
and dciodvfy. Records are made from JSON with known samples; every expected
value below comes from those samples, the lead code table of SCP-ECG and the
EDF+ and DICOM rules, never from the converter's own output.

usage: convert_peers.py SCPECG   (exit 77: a peer is not installed)
"""
import json, os, pathlib, re, shutil, subprocess, sys, tempfile

try:
    import mne, numpy as np, pydicom
except ImportError as e:
    print("skipped:", e)
    sys.exit(77)
if not shutil.which("dciodvfy"):
    print("skipped: dciodvfy (dicom3tools) is not installed")
    sys.exit(77)

SCPECG = sys.argv[1]
LEAD_CODES = {"I": 1, "II": 2, "V1": 3, "V2": 4, "V3": 5, "V4": 6, "V5": 7, "V6": 8, "X": 16, "Y": 17, "Z": 18}
TWELVE_LEAD, GENERAL = "1.2.840.10008.5.1.4.1.1.9.1.1", "1.2.840.10008.5.1.4.1.1.9.1.2"
REGISTERED_KEY = "123"
# The stored identifier "DEMO-0001" and name "Example", "Anna" unscrambled with key "123": digits
# move back by ord("1") mod 10 (forward 1), upper case by ord("2") mod 26 (forward 2), lower case
# by ord("3") mod 26 (forward 1).
PLAIN_WITH_KEY = ["FGOQ-1112", "F", "17-APR-1961", "Gybnqmf,_Coob"]
# name: channels, rate (Hz), resolution (nV), seconds, scramble key, object, EDF+ patient field
# (code, sex, birth date, name; X where not shown: the key is not registered here)
CASES = {
    "resting": ([0, 1, 2, 3, 4, 5, 6, 7], 500, 5000, 10, "", TWELVE_LEAD,
                ["DEMO-0001", "F", "17-APR-1961", "Example,_Anna"]),
    # Extremes of 16 bits at a resolution whose range needs care in EDF's 8-character fields;
    # 17 s is beyond the 12-lead object.
    "wide": ([0, 8, 9], 250, 4880, 17, "K7Q", GENERAL, ["X", "F", "X", "X"]),
    # 1.2 s: one datarecord of 1.2 s, a duration that binary floating point holds a little low.
    "scrambled": ([0, 1], 500, 2500, 1.2, REGISTERED_KEY, TWELVE_LEAD, PLAIN_WITH_KEY),
}
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(*args, cwd):
    return subprocess.run([SCPECG, *args], cwd=cwd, capture_output=True, text=True,
                          env=dict(os.environ, XDG_CONFIG_HOME=str(cwd / "config")))


def make_case(work, name, channels, rate, res, seconds, key):
    n = round(rate * seconds)
    rng = np.random.default_rng(len(name))
    leads = []
    for k, ch in enumerate(channels):
        s = rng.integers(-2000, 2000, n)
        s[k], s[k + 1] = 32767, -32767
        leads.append({"channel": ch, "lead": list(LEAD_CODES)[ch if ch < 8 else ch], "samples": s.tolist()})
    base = json.loads(run("dump", "demo.scp", cwd=work).stdout)
    base["waveform"] = {"samplingRate": rate, "amplitudeResolution": res, "samplesPerLead": n, "leads": leads}
    beats = list(range(rate // 2, n, rate))
    base["annotations"] = {"valueA": 0, "valueB": 0, "entries": [[b, 1, 0, 0] for b in beats]}
    base["scrambleKey"] = key
    (work / f"{name}.json").write_text(json.dumps(base))
    r = run("make", f"{name}.json", f"in/{name}.scp", cwd=work)
    check(r.returncode == 0, f"{name}: make: {r.stderr}")
    return leads, beats


def check_edf(path, name, leads, rate, res, beats, patient_field):
    raw = mne.io.read_raw_edf(path, preload=True, verbose="error")
    check(raw.ch_names == ["ECG " + l["lead"] for l in leads], f"{name}: EDF labels {raw.ch_names}")
    check(raw.info["sfreq"] == rate, f"{name}: EDF rate {raw.info['sfreq']}")
    expected = np.array([l["samples"] for l in leads], dtype=float) * res * 1e-9  # volts
    got = raw.get_data()
    check(got.shape == expected.shape and np.abs(got - expected).max() <= res * 1e-9 / 2,
          f"{name}: EDF samples differ by more than half the quantum")
    qrs = [a["onset"] for a in raw.annotations if a["description"].startswith("QRS")]
    check(np.allclose(qrs, np.array(beats) / rate, atol=1e-4), f"{name}: EDF QRS annotations {qrs[:3]}")
    patient = open(path, "rb").read(88)[8:88].decode("latin-1").split()
    check(patient[:4] == patient_field, f"{name}: EDF patient field {patient}")


def check_dicom(path, name, leads, res, sop, patient_id):
    report = subprocess.run(["dciodvfy", str(path)], capture_output=True, text=True)
    errors = [l for l in (report.stdout + report.stderr).splitlines() if l.startswith("Error")]
    check(not errors, f"{name}: dciodvfy: {errors}")
    ds = pydicom.dcmread(path)
    check(ds.SOPClassUID == sop, f"{name}: SOP class {ds.SOPClassUID}")
    group = ds.WaveformSequence[0]
    codes = [c.ChannelSourceSequence[0].CodeValue for c in group.ChannelDefinitionSequence]
    check(codes == ["5.6.3-9-%d" % LEAD_CODES[l["lead"]] for l in leads], f"{name}: DICOM lead codes {codes}")
    check(all(c.ChannelSensitivityUnitsSequence[0].CodeValue == "uV" for c in group.ChannelDefinitionSequence),
          f"{name}: DICOM units")
    expected = np.array([l["samples"] for l in leads], dtype=float).T * res / 1000  # microvolts
    got = ds.waveform_array(0)
    check(got.shape == expected.shape and np.allclose(got, expected, rtol=0, atol=1e-9), f"{name}: DICOM samples")
    check((ds.get("PatientIdentityRemoved") != "YES" and ds.PatientID == patient_id) if patient_id != "X" else
          (ds.PatientIdentityRemoved == "YES" and ds.PatientID == "" and str(ds.PatientName) == ""),
          f"{name}: DICOM identity {ds.get('PatientID')!r}")


def main():
    work = pathlib.Path(tempfile.mkdtemp(prefix="scpecg-peers-"))
    try:
        (work / "config" / "Veltrona" / "Miravel 4" / "PHI" / REGISTERED_KEY).mkdir(parents=True)
        check(run("demo", "demo.scp", cwd=work).returncode == 0, "demo")
        made = {name: make_case(work, name, *c[:5]) for name, c in CASES.items()}
        total = f"{len(CASES)} converted, 0 skipped, 0 failed"
        for fmt in ("edf", "dicom", "csv"):
            r = run("convert", "in", "--to", fmt, "-o", "out", "-j", "2", cwd=work)
            check(r.returncode == 0 and total in r.stdout, f"convert {fmt}: {r.stdout}{r.stderr}")
        for name, (channels, rate, res, seconds, key, sop, patient) in CASES.items():
            leads, beats = made[name]
            check_edf(work / "out" / f"{name}.edf", name, leads, rate, res, beats, patient)
            check_dicom(work / "out" / f"{name}.dcm", name, leads, res, sop, patient[0])
            rows = (work / "out" / f"{name}.csv").read_text().splitlines()
            check(rows[0] == "time_s," + ",".join(l["lead"] for l in leads) and
                  [float(v) for v in rows[1].split(",")[1:]] == [l["samples"][0] * res / 1000 for l in leads],
                  f"{name}: CSV {rows[:2]}")

        # Folders: recursive, structure kept, other files skipped; a broken record named
        # on the command line fails the run and leaves nothing behind.
        nested = work / "tree" / "a" / "b"
        nested.mkdir(parents=True)
        shutil.copy(work / "in" / "resting.scp", nested / "r.scp")
        (work / "tree" / "notes.txt").write_text("not a record")
        r = run("convert", "tree", "--to", "edf", "-o", "tree-out", cwd=work)
        check(r.returncode == 0 and "1 converted, 1 skipped, 0 failed" in r.stdout
              and (work / "tree-out" / "a" / "b" / "r.edf").is_file(), f"folder: {r.stdout}{r.stderr}")
        data = (work / "in" / "resting.scp").read_bytes()
        (work / "cut.scp").write_bytes(data[: len(data) // 3])
        r = run("convert", "cut.scp", "in/wide.scp", "--to", "dicom", "-o", "bad-out", cwd=work)
        check(r.returncode == 1 and "1 converted, 0 skipped, 1 failed" in r.stdout
              and re.search(r"failed +cut\.scp: \S", r.stderr), f"broken record: {r.stdout}{r.stderr}")
        check(not list(work.rglob("*.partial")), "a .partial file was left behind")

        # Other producers' encodings: our EDF+ read by MNE against the SCP-ECG read by
        # biosig-tools (save2gdf writes one text file of microvolts per channel).
        if shutil.which("save2gdf"):
            corpus = pathlib.Path(__file__).resolve().parents[2] / "fuzz" / "corpus" / "reader"
            for name in ("plain-v13", "default-second-v20"):
                peer = work / ("peer-" + name)
                peer.mkdir()
                subprocess.run(["save2gdf", "-f=ASCII", "-n", str(corpus / f"{name}.scp"), "peer.asc"], cwd=peer,
                               capture_output=True)
                labels = re.findall(r"^Label\s*=\s*(\S+)", (peer / "peer.asc").read_text(errors="replace"), re.M)
                r = run("convert", str(corpus / f"{name}.scp"), "--to", "edf", "-o", "foreign", cwd=work)
                raw = mne.io.read_raw_edf(work / "foreign" / f"{name}.edf", preload=True, verbose="error")
                check(raw.ch_names == ["ECG " + l for l in labels], f"{name}: labels {raw.ch_names} / peer {labels}")
                channels = sorted(peer.glob("peer.a[0-9]*"))
                check(labels and len(channels) == len(labels), f"{name}: the peer read {len(channels)} channels")
                for k, channel in enumerate(channels):
                    theirs = np.array([float(v) for v in channel.read_text().split()])
                    ours = raw.get_data()[k] * 1e6 if k < len(raw.ch_names) else np.array([])
                    check(len(ours) == len(theirs) and np.abs(ours - theirs).max() < 1e-6,
                          f"{name}: channel {k} differs from the peer's")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


sys.exit(main())
