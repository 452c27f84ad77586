#include "runner/junit_report.h"

#include <cstdio>

namespace velk_run {

namespace {

// Text in an attribute or an element. What velk-run shows is printable ASCII or UTF-8 that JSON
// escaping left: only XML's own characters need escaping.
std::string Xml(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f", seconds);
  return text;
}

}  // namespace

std::string JUnitReport(const std::vector<TestCase>& cases) {
  std::size_t failures = 0;
  double seconds = 0;
  std::string body;
  for (const TestCase& test : cases) {
    seconds += test.seconds;
    body += "    <testcase name=\"" + Xml(test.name) + "\" classname=\"velk-run test\" time=\"" +
            Seconds(test.seconds) + "\"";
    if (test.passed) {
      body += "/>\n";
      continue;
    }
    ++failures;
    const std::size_t count = test.differences.size();
    body += ">\n      <failure message=\"" + std::to_string(count) +
            (count == 1 ? " difference" : " differences") + "\" type=\"difference\">";
    for (const std::string& line : test.differences) body += Xml(line) + "\n";
    body += "</failure>\n    </testcase>\n";
  }
  const std::string counts = "tests=\"" + std::to_string(cases.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"0\" skipped=\"0\" time=\"" +
                             Seconds(seconds) + "\"";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites " + counts +
         ">\n  <testsuite name=\"velk-run test\" " + counts + ">\n" + body +
         "  </testsuite>\n</testsuites>\n";
}

}  // namespace velk_run
