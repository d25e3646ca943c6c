#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The receive-path seeds are operation scripts in the format described at the top of
receive_path_fuzzer.cpp; each one walks the program to a place worth mutating from (radar
window open with replies arriving, the window opened by the supervision itself, reads split
byte by byte, the ring's wrap point, broken framing, driver faults, a lost sensor). Frames are
built here with their own checksum and stuffing, independent of the program's code.

The profile, commissioning-log and batch-page seeds are files zeltoctl itself writes on the
simulated bench (saved profiles, CSV and JSON-lines logs of set, apply, verify and walk),
with a few hand-made neighbours; they need a built zeltoctl (ZELTOCTL, default
build-test/bin/zeltoctl) and are left as they are without one. Their time stamps differ from
run to run; the rest of the output is deterministic.

Run it again after changing the operation format.
"""
import os
import shutil
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

# Operation numbers of receive_path_fuzzer.cpp.
RAW, FRAME, POLL, ADVANCE, USER, FAULT, TICK, DIRECT, QUIET = range(9)

# Frame selectors: index into the fuzzer's code table.
ID_REPLY, PARAMS_REPLY, WRITE_ACK, REPORT_ACK, SIGNAL = 0, 1, 2, 3, 4
CUSTOM_CODE = 0xF0

# Setup bits.
FW_0200, FW_01FF, FW_0000, FW_GIVEN = 0, 1, 2, 3
OPEN_RADAR, TWO_PROGRAMMERS, RING_START = 0x04, 0x08, 0x10

SERIAL = b"0000000001"


def wire(code, payload, bad_checksum=False):
    body = bytes([code]) + bytes(payload)
    total = (sum(body) + (1 if bad_checksum else 0)) & 0xFFFF
    body += bytes([total >> 8, total & 0xFF])
    out = bytearray(b"\x01\x02")
    for b in body:
        out.append(b)
        if b == 0x01:
            out.append(0x01)
    out += b"\x01\x03"
    return bytes(out)


def raw(data):
    data = bytes(data)
    ops = bytearray()
    while data:
        chunk, data = data[:255], data[255:]
        ops += bytes([RAW, len(chunk)]) + chunk
    return bytes(ops)


def id_reply(fw=0x0200, hw=0x0102):
    # Length selector 0: the usual 16 bytes, the first two forced to the Duroz740's id.
    return bytes([FRAME, ID_REPLY, 0x00]) + SERIAL + bytes([hw >> 8, hw & 0xFF, fw >> 8, fw & 0xFF])


def params_reply(values, bad_checksum=False):
    length = 0x00 if len(values) == 6 else 0x01
    if bad_checksum:
        length += 0x60
    return bytes([FRAME, PARAMS_REPLY, length]) + bytes(values)


def signal(kind, level, status):
    return bytes([FRAME, SIGNAL, 0x00, kind, level >> 8, level & 0xFF, status])


def ack(selector):
    return bytes([FRAME, selector, 0x00, 0x00])


def poll(limit=0):
    return bytes([POLL, limit])


def advance(ms):
    """Moves the clock by about ms (10 t + 1 per step)."""
    ops = bytearray()
    while ms > 0:
        t = min(255, max(0, (ms - 1) // 10))
        ops += bytes([ADVANCE, t])
        ms -= 10 * t + 1
    return bytes(ops)


def drop_down(param):
    return bytes([USER, param])  # (b / 6) % 4 == 0


def click(param, index):
    return bytes([USER, 3 * 6 + param, index])  # (b / 6) % 4 == 3


def drop_down_click(param, index):
    return bytes([USER, 2 * 6 + param, index])


def fault(b):
    return bytes([FAULT, b])


def receive_path_seeds():
    seeds = {}
    radar = bytes([OPEN_RADAR | FW_0200])

    seeds["radar_replies"] = (
        radar + id_reply() + poll() + params_reply([7, 3, 2, 1, 1, 2]) + poll()
        + signal(2, 0x1234, 1) + signal(2, 0x0100, 0) + poll() + ack(REPORT_ACK) + poll()
        + advance(600) + drop_down_click(0, 2) + advance(200) + ack(WRITE_ACK) + poll()
        + params_reply([3, 3, 2, 1, 1, 2]) + poll() + advance(2100) + bytes([TICK, 1]))

    # The supervision finds the sensor and opens the window by itself after the hold-off.
    natural = bytearray([FW_0200]) + advance(1500)
    for _ in range(7):
        natural += id_reply() + poll() + advance(500)
    natural += params_reply([5, 2, 1, 0, 0, 1]) + poll() + signal(2, 900, 1) + poll()
    seeds["supervision_opens_window"] = bytes(natural)

    split = bytearray(radar) + id_reply() + params_reply([9, 9, 2, 2, 1, 2]) + signal(2, 65535, 1)
    for _ in range(24):
        split += poll(1)
    split += poll(3) + poll(7) + poll(0)
    seeds["split_reads"] = bytes(split)

    wrap = bytearray([OPEN_RADAR | RING_START | FW_0200, 249])
    for level in range(6):
        wrap += signal(2, 1000 * level + 1, level & 1) + poll(5) + poll(0)
    wrap += id_reply() + poll(0)
    seeds["ring_wrap"] = bytes(wrap)

    framing = (
        radar
        + raw([0x00, 0xFF, 0x03, 0x01, 0x01, 0x01, 0x02]) + raw(wire(0x17, [2, 0, 9, 1])[2:])
        + raw([0x01, 0x02, 0x05, 0x01, 0x07]) + raw([0x01, 0x02, 0x04, 0x01, 0x01, 0x03, 0x00, 0x08, 0x01, 0x03])
        + raw([0x01, 0x02, 0x00, 0x01, 0x02]) + raw(wire(0x15, [2]))
        + raw([0x01, 0x02, 0x01, 0x03]) + poll()
        + raw(wire(0x03, [4, 4, 1, 1, 0, 1], bad_checksum=True)) + poll())
    seeds["framing"] = framing

    long_body = bytes([0x17, 2] + [0x55] * 90)
    total = sum(long_body[:68])
    longframe = (
        radar + bytes([FRAME, CUSTOM_CODE, 0x17, 0xFF]) + bytes(range(1, 74)) + poll()
        + raw(b"\x01\x02" + long_body[:68] + bytes([total >> 8, total & 0xFF]) + long_body[70:] + b"\x01\x03")
        + poll() + bytes([DIRECT, 74]) + bytes([DIRECT, 0x80 | 23]))
    seeds["long_frames"] = longframe

    faults = (
        radar + fault(7) + poll() + id_reply() + fault(4) + bytes([TICK, 0]) + fault(0x90)
        + bytes([TICK, 0]) + fault(0xA0) + advance(600) + fault(0xA0) + fault(0xB0) + advance(600)
        + fault(0xB0) + fault(0xC0) + advance(1200) + fault(0xC0) + fault(0xD0) + id_reply() + poll())
    seeds["driver_faults"] = faults

    seeds["old_firmware"] = (
        bytes([OPEN_RADAR | FW_01FF]) + id_reply(fw=0x01FF) + poll() + params_reply([2, 4, 0, 2, 1])
        + poll() + click(0, 8) + advance(200) + ack(WRITE_ACK) + poll() + advance(200))

    lost = bytearray(radar) + advance(2550) + advance(2550)
    for _ in range(8):
        lost += id_reply() + poll() + advance(500)
    lost += params_reply([1, 1, 0, 0, 0, 0]) + poll()
    seeds["lost_and_back"] = bytes(lost)

    seeds["user_lists"] = (
        radar + id_reply() + poll() + params_reply([5, 5, 1, 1, 0, 1]) + poll()
        + drop_down(1) + advance(300) + click(1, 6) + drop_down(4) + advance(300)
        + bytes([USER, 6 + 2, 0xFF]) + advance(300) + bytes([USER, 0xFC]))
    return seeds


def string_table_seeds():
    seeds = {}
    with open(os.path.join(HERE, "..", "data", "StringTable.txt"), "rb") as f:
        seeds["shipped"] = f.read()
    seeds["entry_11"] = b"#STRING 11\r\n&Esci\r\n&Exit\r\n"
    seeds["above_200"] = b"#STRING250\r\nalto\r\nhigh\r\nthird\r\n#STRING 200\r\nx\r\n"
    seeds["negative"] = b"#STRING -1\r\nmeno\r\n#STRING 3\r\n\r\nblank first\r\n"
    seeds["bad_headers"] = b"#STRING\r\n#string 4\r\nlower\r\n#STRING eleven\r\n"
    seeds["lone_cr_lf"] = b"before\r#STRING 7\rcr\rline\nfeed\r\n#STRING 8\n9\n"
    seeds["windows_1252"] = b"#STRING 57\r\nSensibilit\xe0\r\nSensitivity\r\n#STRING +12 \r\n\x80\x9f\r\n"
    return seeds


def parameter_file_seeds():
    return {
        "english": b'"File configurazione ZeltoSoft"\r\n1\r\n',
        "unquoted": b"File configurazione ZeltoSoft\r\n1\r\n",
        "commas": b'"File configurazione ZeltoSoft",  -5 ,7\r\n',
        "foreign": b'"File configurazione ZeltoSoftX"\r\n1\r\n',
        "out_of_range": b'"File configurazione ZeltoSoft"\r\n99999\r\n',
        "not_a_number": b'  "File configurazione ZeltoSoft" trailing\r\n+1x\r\n',
        "unterminated": b'"File configurazione ZeltoSoft\r\n2',
        "empty": b"",
    }


def zeltoctl_files():
    """Profiles and logs written by zeltoctl on the simulated bench: (profiles, logs)."""
    exe = os.environ.get("ZELTOCTL", os.path.join(HERE, "..", "build-test", "bin", "zeltoctl"))
    if not os.access(exe, os.X_OK):
        return None
    profiles, logs = {}, {}
    with tempfile.TemporaryDirectory() as work:
        def run(*args):
            subprocess.run([exe, "--sim", "-q", *args], cwd=work, check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

        def read(name):
            with open(os.path.join(work, name), "rb") as f:
                return f.read()

        run("save", "saved.json")
        run("--sim-fw", "0x01FF", "--sim-params", "2,4,0,2,1", "save", "old_firmware.json")
        profiles["saved"] = read("saved.json")
        profiles["old_firmware"] = read("old_firmware.json")
        get = subprocess.run([exe, "--sim", "get", "--json"], capture_output=True, timeout=60)
        profiles["get_json"] = get.stdout
        for fmt in ("csv", "jsonl"):
            log = "log." + fmt
            common = ["--log", log, "--log-format", fmt, "--note", "site=Hall <3>",
                      "--note", "operator=Zo\u00eb \"Z\", jr"]
            run(*common, "set", "sensitivity=7", "relay=1.5")
            run(*common, "--sim-serial", "ZS74000002", "apply", "saved.json")
            run(*common, "--sim-fw", "0x01FF", "apply", "saved.json")
            run(*common, "--sim-refuse", "relay=2", "set", "relay=2")
            run(*common, "verify", "old_firmware.json")
            run(*common, "--sim-walk-every-ms", "500", "walk", "--seconds", "1.5")
            logs[fmt] = read(log)
    return profiles, logs


def profile_seeds(written):
    seeds = dict(written)
    seeds["hand_edited"] = (b'\xef\xbb\xbf{\r\n  "parameters": {"height": 2.90, "relay": 2, "filter": 60},'
                            b'\r\n  "zeltoctl_profile": 1\r\n}\r\n')
    seeds["number_overflow"] = (b'{"zeltoctl_profile": 1, "device": "Duroz740", '
                                b'"parameters": {"sensitivity": 1e309}}')
    seeds["twice"] = b'{"zeltoctl_profile": 1, "parameters": {"relay": 2, "relay": 3}}'
    seeds["nested"] = b'{"zeltoctl_profile": 1, "parameters": {"relay": [[[{"a": [1]}]]]}}'
    seeds["escapes"] = b'{"zeltoctl_profile": 1, "device": "D\\u00fcroz\\ud83d\\ude00", "parameters": {"speed": 2}}'
    return seeds


def log_seeds(written):
    seeds = {"written_" + fmt: data for fmt, data in written.items()}
    csv = written["csv"]
    seeds["spreadsheet_crlf"] = csv.replace(b"\n", b"\r\n") + b",,,,\r\n"
    seeds["markup"] = (b'{"time": "<b>", "command": "walk", "serial": "</td><script>x</script>", '
                       b'"before": {"sensitivity": 5, "<i>": "\\"&amp;"}, "verified": true, '
                       b'"result": "<!--", "notes": {"k": "v\'\\"<"}}\n'
                       b'{"command": "apply", "verified": 1, "after": [1, {"a": null}]}\n')
    seeds["mixed"] = written["jsonl"].splitlines(True)[0] + csv
    return seeds


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("receive_path", receive_path_seeds())
    write("string_table", string_table_seeds())
    write("parameter_file", parameter_file_seeds())
    files = zeltoctl_files()
    if files is not None:
        profiles, logs = files
        write("profile", profile_seeds(profiles))
        write("commissioning_log", log_seeds(logs))
        write("batch_page", log_seeds(logs))
