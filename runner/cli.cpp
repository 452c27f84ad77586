#include "runner/cli.h"

#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "host_standin/record_format.h"
#include "runner/config_file.h"
#include "runner/device_session.h"
#include "runner/event_writer.h"
#include "runner/input_parsing.h"
#include "runner/line_reader.h"
#include "runner/options.h"
#include "runner/output_lost.h"
#include "runner/plugin_library.h"
#include "runner/quoted_text.h"

namespace velk_run {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// A reading needs a few bytes; the rest leaves room for comment lines.
constexpr std::size_t kMaxLineBytes = 4096;

const char kReadingRange[] = "an integer from -32768 to 32767";
const char kRecordForm[] = "15 bytes as 30 hex digits";

std::string Processed(std::uint64_t readings) {
  if (readings == 0) return "no reading was processed";
  if (readings == 1) return "the 1 reading before it was processed";
  return "the " + std::to_string(readings) + " readings before it were processed";
}

// One reading's round. A failure names the reading (`where()`, worded only then) and says how
// many went through before it: their rounds ran and stay done. Output lost during the round
// stops the run after it, since nothing more could be shown.
template <typename Where>
void Feed(DeviceSession& session, short reading, Where where, std::uint64_t processed) {
  try {
    session.Process(reading);
  } catch (const OutputLost& e) {
    const std::uint64_t done = processed + 1;
    throw std::runtime_error(std::string(e.what()) + "; stopped after " + std::to_string(done) +
                             (done == 1 ? " reading" : " readings"));
  } catch (...) {
    throw std::runtime_error("reading " + where() + " failed: " + CaughtExceptionText() + "; " +
                             Processed(processed));
  }
}

void FeedStandardInput(DeviceSession& session, std::streambuf& in) {
  LineReader lines(in, kMaxLineBytes);
  std::uint64_t processed = 0;
  std::string line;
  for (;;) {
    LineReader::Result result;
    try {
      result = lines.Next(line);
    } catch (const std::system_error& e) {
      throw std::runtime_error("cannot read line " + std::to_string(lines.line_number()) +
                               " of standard input: " + e.code().message() + "; " +
                               Processed(processed));
    }
    if (result == LineReader::Result::kEnd) return;
    // Worded only for a message: a long replay builds no text per line.
    const auto where = [&] {
      return "line " + std::to_string(lines.line_number()) + " of standard input";
    };
    if (result == LineReader::Result::kTooLong) {
      throw std::runtime_error(where() + " is longer than " + std::to_string(kMaxLineBytes) +
                               " bytes, the limit; " + Processed(processed));
    }
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto reading = ParseReading(line);
    if (!reading) {
      throw std::runtime_error(where() + ": " + Quoted(line) + " is not a reading (" +
                               kReadingRange + "); " + Processed(processed));
    }
    const auto named = [&] { return std::to_string(*reading) + " on " + where(); };
    Feed(session, *reading, named, processed);
    ++processed;
  }
}

void FeedArguments(DeviceSession& session, const std::vector<short>& readings) {
  std::uint64_t processed = 0;
  for (short reading : readings) {
    const auto named = [&] { return std::to_string(reading); };
    Feed(session, reading, named, processed);
    ++processed;
  }
}

int Decode(const std::string& hex, std::ostream& out, std::ostream& err) {
  const auto record = ParseRecordHex(hex);
  if (!record) {
    err << "velk-run: --decode " << Quoted(hex) << " is not a record (" << kRecordForm << ")\n";
    return kUsageError;
  }
  Json::Value decoded = standin::DecodeRecord(record->data());
  decoded["record"] = standin::ToHex(record->data(), record->size());
  EventWriter writer(out, "the decoded record");
  writer.Add(decoded);
  writer.Flush();
  return kDone;
}

int Help(std::ostream& out) {
  const std::string usage = kUsage;
  if (const int error = WriteWhole(out, usage.data(), usage.size())) {
    throw OutputLost("the usage", error);
  }
  return kDone;
}

using CachedRecord = std::optional<std::array<unsigned char, 15> >;

int Run(const Options& options, const std::vector<short>& readings, const CachedRecord& cached,
        std::istream& in, std::ostream& err) {
  Json::Value config;
  if (options.config) config = LoadConfig(*options.config);

  DeviceSession session(options.plugin ? PluginFilePath(*options.plugin) : DefaultPluginPath(),
                        err);
  session.SetDataId(options.data_id);
  if (options.config) session.Configure(config);
  if (cached) session.Restore(*cached);
  if (!options.readings.empty()) {
    FeedArguments(session, readings);
  } else {
    FeedStandardInput(session, *in.rdbuf());
  }
  session.Finish();
  return kDone;
}

}  // namespace

int RunCli(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
           std::ostream& err) {
  Options options;
  std::vector<short> readings;
  CachedRecord cached;
  try {
    options = ParseOptions(arguments);
    if (options.restore && !(cached = ParseRecordHex(*options.restore))) {
      throw std::invalid_argument("--restore " + Quoted(*options.restore) + " is not a record (" +
                                  kRecordForm + ")");
    }
    // Arguments are all known up front: refuse a bad one before any round runs.
    for (std::size_t i = 0; i < options.readings.size(); ++i) {
      const auto reading = ParseReading(options.readings[i]);
      if (!reading) {
        throw std::invalid_argument("reading " + Quoted(options.readings[i]) + " (argument " +
                                    std::to_string(i + 1) + " of the readings) is not " +
                                    kReadingRange + "; no reading was processed");
      }
      readings.push_back(*reading);
    }
  } catch (const std::invalid_argument& e) {
    err << "velk-run: " << e.what() << "\n(velk-run --help shows the usage)\n";
    return kUsageError;
  }

  try {
    if (options.help) return Help(out);
    if (options.decode) return Decode(*options.decode, out, err);
    return Run(options, readings, cached, in, err);
  } catch (...) {
    // When standard error is what failed, the status alone tells.
    err << "velk-run: " << CaughtExceptionText() << "\n";
    err.flush();
    return kFailed;
  }
}

}  // namespace velk_run
