#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Plants deliberate faults in cli/, one at a time, and runs every test that can see cli/
(the zeltoctl library's unit tests and the executable's own tests) against each.

  scripts/cli-mutants.py BUILD_DIR [NAME...]

BUILD_DIR is a configured test build (build-test). Only zelto_cli's users are rebuilt. Each
fault is an exact text replacement that must match once; the file is restored afterwards,
whatever happens. Prints one line per fault, caught or SURVIVED, then the rate.
"""
import os
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, file, [(old, new), ...])
MUTANTS = [
    ("reply_awaited_then_unplug_counts_as_answer", "cli/session.cpp", [(
        "    if (link_lost_) return Outcome::kLinkLost;\n    if (w == Wait::kDone) return Outcome::kOk;",
        "    if (w == Wait::kDone) return Outcome::kOk;\n    if (link_lost_) return Outcome::kLinkLost;")]),
    ("identify_tried_once", "cli/session.cpp", [(
        "attempt < options_.tries; ++attempt) {\n    o = IdentifyOnce",
        "attempt < 1; ++attempt) {\n    o = IdentifyOnce")]),
    ("report_mode_on_only_when_acknowledged", "cli/session.cpp", [
        ("  if (mode != 0) report_mode_on_ = true;\n", ""),
        ("  if (mode == 0 && o == Outcome::kOk) report_mode_on_ = false;",
         "  report_mode_on_ = mode != 0 && o == Outcome::kOk;")]),
    ("handle_closed_twice_after_unplug", "cli/session.cpp", [(
        "  if (state_.LinkOpen) link_.Close();", "  link_.Close();")]),
    ("silent_sensor_asked_to_stop_full_tries", "cli/session.cpp", [(
        "SendReportMode(0, 1, std::min(options_.reply_timeout_ms, 1000));", "SetReportMode(0);")]),
    # The session reads its frames through the core's decoder, shared with the radar window.
    ("short_params_reply_accepted", "core/protocol/radar_decoder.cpp", [(
        "if (length < (has_height ? kParamsReplyLength6 : kParamsReplyLength5)) break;",
        "if (length < kParamsReplyLength5) break;")]),
    ("signal_report_mode_byte_ignored", "core/protocol/radar_decoder.cpp", [(
        "m.signal.is_reading = length >= kSignalReportLength && frame[3] == 2;",
        "m.signal.is_reading = length >= kSignalReportLength;")]),
    ("other_device_is_adapter_fault", "cli/commands.cpp", [
        ("    case Outcome::kNoAnswer:\n    case Outcome::kNotDuroz740:", "    case Outcome::kNoAnswer:"),
        ("    case Outcome::kDriverFailure:\n      return kExitAdapter;",
         "    case Outcome::kDriverFailure:\n    case Outcome::kNotDuroz740:\n      return kExitAdapter;")]),
    ("named_value_cannot_replace_out_of_range", "cli/commands.cpp", [(
        "if (!before.valid[f.list] && !changes[f.list] && job != Job::kVerify)",
        "if (!before.valid[f.list] && job != Job::kVerify)")]),
    ("unchanged_sensor_written_anyway", "cli/commands.cpp", [(
        "if (missing.empty() || job == Job::kVerify) {", "if (job == Job::kVerify) {")]),
    ("missed_look_forgets_the_sensor", "cli/commands.cpp", [(
        "if (o == Outcome::kNoAnswer && last_failed) last_serial.clear();",
        "if (o == Outcome::kNoAnswer && (last_failed || true)) last_serial.clear();")]),
    ("count_one_too_many", "cli/commands.cpp", [(
        "results.size() >= static_cast<std::size_t>(count)",
        "results.size() > static_cast<std::size_t>(count)")]),
    ("interrupt_before_count_is_success", "cli/commands.cpp", [(
        "count == 0 && (ctx.stop == nullptr || ctx.stop->Signal() == kStopInterrupt);",
        "(ctx.stop == nullptr || ctx.stop->Signal() == kStopInterrupt);")]),
    ("each_looks_twice_as_slow", "cli/commands.cpp", [(
        "ctx.loop.RunUntil([] { return false; }, ctx.each_poll_ms)",
        "ctx.loop.RunUntil([] { return false; }, 2 * ctx.each_poll_ms)")]),
    ("silence_noticed_after_3_s", "cli/commands.cpp", [(
        "constexpr std::int64_t kSilenceMs = 1000;", "constexpr std::int64_t kSilenceMs = 3000;")]),
    ("monitor_lines_not_flushed", "cli/commands.cpp", [(
        "  ctx.out << line;\n  ctx.out.flush();", "  ctx.out << line;")]),
    ("log_checked_after_opening_the_sensor", "cli/commands.cpp", [(
        "  if (!LogReady(ctx)) return kExitFailure;\n  Session s(ctx.driver, ctx.loop, ctx.session);\n  if (const int code",
        "  Session s(ctx.driver, ctx.loop, ctx.session);\n  if (const int code")]),
    ("csv_cr_unquoted", "cli/records.cpp", [(
        'text.find_first_of(",\\"\\r\\n")', 'text.find_first_of(",\\"\\n")')]),
    ("profile_version_0_accepted", "cli/records.cpp", [(
        "if (version->get<int>() != kProfileFormatVersion)",
        "if (version->get<int>() > kProfileFormatVersion)")]),
    ("duplicate_keys_only_in_nested_objects", "cli/records.cpp", [(
        "if (std::find(keys.begin(), keys.end(), key) != keys.end()) duplicate = key;",
        "if (std::find(keys.begin(), keys.end(), key) != keys.end() && open_objects.size() > 1)\n            duplicate = key;")]),
    ("empty_parameters_accepted", "cli/records.cpp", [(
        "if (params->empty()) {", "if (params->is_null()) {")]),
    ("json_error_lines_counted_wrong", "cli/records.cpp", [(
        "if (text[i] == '\\n') {", "if (text[i] == '\\r') {")]),
    ("doctor_skips_usr_local", "cli/doctor.cpp", [(
        '"/lib/udev/rules.d", "/usr/local/lib/udev/rules.d"}', '"/lib/udev/rules.d"}')]),
    ("doctor_no_programmer_always_a_problem", "cli/doctor.cpp", [(
        "else if (programmers == 0 && !devices.empty())", "else if (programmers == 0)")]),
    ("v_is_version", "apps/zeltoctl_main.cpp", [(
        'app.set_version_flag("--version"', 'app.set_version_flag("-v,--version"')]),
    ("seconds_unchecked", "apps/zeltoctl_main.cpp", [(
        '      ->option_text("N")\n      ->check(CLI::Range(0.0, 31536000.0));', '      ->option_text("N");')]),
    ("signal_exit_code_not_mapped", "apps/zeltoctl_main.cpp", [(
        "  if (code == kExitInterrupted) code = stop.ExitCode(code);\n", "")]),
    # A second sample, planted after the tests for the first were written.
    ("csv_quote_not_doubled", "cli/records.cpp", [(
        "    if (c == '\"') out += '\"';\n", "")]),
    ("skipped_left_out_of_jsonl", "cli/records.cpp", [(
        '    if (!r.skipped.empty()) j["skipped"] = r.skipped;\n', "")]),
    ("skipped_height_not_recorded", "cli/commands.cpp", [(
        '    rec.skipped = "height";\n', "")]),
    ("get_json_keeps_out_of_range_values", "cli/commands.cpp", [(
        "      if (d.valid[f.list])\n        profile.wire", "      if (d.valid[f.list] || true)\n        profile.wire")]),
    ("bad_profile_is_a_file_failure", "cli/commands.cpp", [(
        "    ctx.err << \"zeltoctl: \" << file << \": \" << error << \"\\n\";\n    code = kExitUsage;",
        "    ctx.err << \"zeltoctl: \" << file << \": \" << error << \"\\n\";\n    code = kExitFailure;")]),
    ("mode_0_sent_over_a_lost_link", "cli/session.cpp", [(
        "  if (report_mode_on_ && !link_lost_) {", "  if (report_mode_on_) {")]),
    ("last_signal_names_the_exit", "cli/stop.h", [(
        "    int none = 0;\n    signo_.compare_exchange_strong(none, signo);", "    signo_.store(signo);")]),
    ("list_json_ignored", "apps/zeltoctl_main.cpp", [(
        "if (*list) code = CmdList(ctx, json);", "if (*list) code = CmdList(ctx, false);")]),
    ("jsonl_detected_inverted", "cli/commands.cpp", [(
        'sample.level, sample.detected ? "true" : "false");', 'sample.level, sample.detected ? "false" : "true");')]),
    ("each_waiting_line_unchecked", "cli/commands.cpp", [(
        "      EmitLine(ctx, std::string(\"waiting for \") +", "      ctx.out << (std::string(\"waiting for \") +")]),
    ("doctor_json_without_rule", "cli/doctor.cpp", [(
        '      report["udev_rule"] = file.string();\n', "")]),
    ("sighup_not_handled", "cli/stop.cpp", [(
        "  std::signal(SIGHUP, OnStopSignal);", "  std::signal(SIGHUP, SIG_DFL);")]),
]

TESTS = ("^(Commands|Bench|Doctor|Profile|CommissionLog|RadarParams|LinkBySerial|LibftdiBySerial|"
         "Zeltoctl|ManualPage|zeltoctl_)")


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=REPO, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, **kw)


def main():
    build = sys.argv[1]
    wanted = set(sys.argv[2:])
    caught = survived = 0
    for name, path, edits in MUTANTS:
        if wanted and name not in wanted:
            continue
        full = os.path.join(REPO, path)
        original = open(full).read()
        text = original
        for old, new in edits:
            if text.count(old) != 1:
                print(f"{name}: the text to change is not there once ({path})")
                sys.exit(2)
            text = text.replace(old, new)
        try:
            open(full, "w").write(text)
            b = run(["cmake", "--build", build, "--target", "cli_tests", "zeltoctl"])
            if b.returncode != 0:
                print(f"{name}: does not build\n{b.stdout[-2000:]}")
                sys.exit(2)
            t = run(["ctest", "--test-dir", build, "-R", TESTS, "-j2", "--timeout", "60"])
            failed = [l.split(" - ")[1].split(" (")[0].split("  #")[0] for l in t.stdout.splitlines()
                      if " - " in l and ("(Failed" in l or "(Timeout" in l or "(Subprocess" in l)]
            if t.returncode != 0:
                caught += 1
                print(f"{name}: caught by {', '.join(failed[:3]) or 'the suite'}", flush=True)
            else:
                survived += 1
                print(f"{name}: SURVIVED", flush=True)
        finally:
            open(full, "w").write(original)
    run(["cmake", "--build", build, "--target", "cli_tests", "zeltoctl"])
    total = caught + survived
    print(f"caught {caught} of {total}")


if __name__ == "__main__":
    main()
