// qpcap: lists video capture devices and their formats, records, grabs frames and measures a
// device's stream, through the platform's public media-graph interfaces only.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "avi_recorder.h"
#include "check/check_options.h"
#include "device_listing.h"
#include "frame_saver.h"
#include "measurement.h"
#include "recording_check.h"
#include "tool_status.h"

namespace {

using namespace qpcap;

const char kUsage[] =
    "usage: qpcap <command> [options]\n"
    "\n"
    "commands:\n"
    "  list                                      list the video capture devices\n"
    "  formats [-d DEV]                          list a device's formats\n"
    "  record  [-d DEV] [-f FMT] [-t SEC] -o FILE.avi\n"
    "                                            record SEC seconds (default 5) to an\n"
    "                                            uncompressed AVI file\n"
    "  frame   [-d DEV] [-f FMT] [-n N] -o FILE.bmp\n"
    "                                            save frame N (default 0) as a BMP file\n"
    "  measure [-d DEV] [-f FMT] [-t SEC] [--csv FILE] [--check ...]\n"
    "                                            measure SEC seconds (default 10) of the stream;\n"
    "                                            with --check also check its frames as check\n"
    "                                            does (takes check's options but --csv)\n"
    "  startup [-d DEV] [-f FMT] [-n RUNS] [-t SEC]\n"
    "                                            time RUNS graphs (default 5) from Pause to the\n"
    "                                            first sample, then RUNS restarts of the last,\n"
    "                                            each given SEC seconds (default 5)\n"
    "  check   FILE.avi [--install DIR] [--preset N] [--csv FILE] [--json FILE]\n"
    "          [--max-missing N] [--max-repeats N]\n"
    "                                            tell what happened to the source's frames\n"
    "                                            in an uncompressed AVI file: lost, repeated,\n"
    "                                            reordered, time stamps, colours\n"
    "\n"
    "options:\n"
    "  -d DEV      device index or friendly name, as 'list' shows (default: device 0)\n"
    "  -f FMT      format index, as 'formats' shows, or WIDTHxHEIGHT for the first format\n"
    "              of that size (default: the device's current format)\n"
    "  -t SEC      seconds, up to 3600\n"
    "  -n N        frame number, counted from 0 (startup: number of runs)\n"
    "  -o FILE     output file\n"
    "  --csv FILE  measure, check: also write the per-frame figures as CSV\n"
    "  --check     measure: also check the frames' status lines as they arrive\n"
    "  --install DIR   check: folder of QuorPlemo.ini and its pictures (default: qpcap's)\n"
    "  --preset N  check: the format the frames were made in, as 'formats' numbers it\n"
    "              (default: found from the frames)\n"
    "  --json FILE     check: the summary as JSON\n"
    "  --max-missing N, --max-repeats N   check: exit 7 when more frames are missing or\n"
    "              repeated\n"
    "  -q          no progress line\n"
    "  -h, --help  this text\n"
    "\n"
    "exit codes:\n"
    "  0 done   1 platform or stream failure   2 bad command line   3 no such device\n"
    "  4 no such format, or the device lists none   5 output file not writable\n"
    "  6 measure: no frame arrived or the time stamps were not continuous\n"
    "  7 check: more frames missing or repeated than allowed\n"
    "  8 check: the recording or the install folder cannot be read, or no status line\n";

struct Command {
  const char* name;
  // The option letters it takes; 'c' is --csv, 'k' --check.
  const char* options;
  uint32_t check_options;  // the checker's options it takes
  bool needs_output;
  double default_seconds;
};

// measure's --csv is its own per-frame figures, not the check's.
constexpr uint32_t kLiveCheckOptions = qp::check::kOptionInstall | qp::check::kOptionPreset |
                                       qp::check::kOptionJson | qp::check::kOptionMaxMissing |
                                       qp::check::kOptionMaxRepeats;

const Command kCommands[] = {
    {"list", "", 0, false, 0},
    {"formats", "d", 0, false, 0},
    {"record", "dftoq", 0, true, 5},
    {"frame", "dfnoq", 0, true, 0},
    {"measure", "dftcqk", kLiveCheckOptions, false, 10},
    {"startup", "dfnt", 0, false, 5},
    {"check", "q", kLiveCheckOptions | qp::check::kOptionCsv, false, 0},
};

bool ParseNumber(const char* text, double low, double high, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && value >= low && value <= high;
}

int Usage(const char* format, const char* detail) {
  std::fputs("qpcap: ", stderr);
  std::fprintf(stderr, format, detail);
  std::fputs("\n(qpcap --help lists the commands and options)\n", stderr);
  return kExitUsage;
}

int ParseArguments(int argc, char** argv, const Command*& command, CommandOptions& options) {
  if (argc < 2) return Usage("%s", "no command given");
  for (const Command& candidate : kCommands)
    if (std::strcmp(argv[1], candidate.name) == 0) command = &candidate;
  if (!command) return Usage("unknown command \"%s\"", argv[1]);
  options.seconds = command->default_seconds;
  if (std::strcmp(command->name, "startup") == 0) options.frame = 5;
  for (int i = 2; i < argc; ++i) {
    const std::string flag = argv[i];
    // check's one positional argument: the recording.
    if (std::strcmp(command->name, "check") == 0 && flag[0] != '-' && options.input.empty()) {
      options.input = flag;
      continue;
    }
    std::string error;
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    const qp::check::OptionParse parse =
        qp::check::ParseCheckOption(flag, next, command->check_options, options.checking, error);
    if (parse == qp::check::OptionParse::kBad) return Usage("%s", error.c_str());
    if (parse == qp::check::OptionParse::kTaken) {
      ++i;
      continue;
    }
    const char letter = flag == "--csv"                        ? 'c'
                        : flag == "--check"                    ? 'k'
                        : (flag.size() == 2 && flag[0] == '-') ? flag[1]
                                                               : '\0';
    if (letter == '\0' || !std::strchr(command->options, letter))
      return Usage("\"%s\" is not an option of this command", argv[i]);
    if (letter == 'q' || letter == 'k') {
      (letter == 'q' ? options.quiet : options.check) = true;
      continue;
    }
    if (i + 1 >= argc) return Usage("%s needs a value", argv[i]);
    const char* value = argv[++i];
    double number = 0;
    switch (letter) {
      case 'd': options.device = value; break;
      case 'f': options.format = value; break;
      case 'o': options.output = value; break;
      case 'c': options.csv = value; break;
      case 't':
        if (!ParseNumber(value, 0.1, 3600, number))
          return Usage("bad number of seconds \"%s\"", value);
        options.seconds = number;
        break;
      case 'n':
        if (!ParseNumber(value, 0, 1000000, number) || number != int(number))
          return Usage("bad frame number \"%s\"", value);
        options.frame = int(number);
        break;
    }
  }
  if (command->needs_output && options.output.empty())
    return Usage("%s needs -o FILE", command->name);
  if (std::strcmp(command->name, "check") == 0 && options.input.empty())
    return Usage("%s needs the recording to check", command->name);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // Plain "\n" line ends: the output is read by scripts on Linux as often as on a console.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  const Command* command = nullptr;
  CommandOptions options;
  int status = ParseArguments(argc, argv, command, options);
  if (status != kExitOk) return status;

  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) return Fail(kExitFailure, "COM does not start: %s", HresultText(hr).c_str());
  const std::string name = command->name;
  if (name == "list")
    status = RunListDevices();
  else if (name == "formats")
    status = RunListFormats(options);
  else if (name == "record")
    status = RunRecord(options);
  else if (name == "frame")
    status = RunSaveFrame(options);
  else if (name == "startup")
    status = RunStartup(options);
  else if (name == "check")
    status = RunCheck(options);
  else
    status = RunMeasure(options);
  std::fflush(stdout);
  CoUninitialize();
  return status;
}
