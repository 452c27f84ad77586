#include "runner/scenario_check.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "loader/failure.h"

namespace velk_run {

namespace {

using rapidjson::Value;

// A scenario whose every step differs says the first of them, and how many more.
constexpr std::size_t kMostDifferences = 200;
// Past this many comparisons, a step's lists are paired in order instead.
constexpr std::size_t kMostAligned = 4 * 1024 * 1024;

std::string Shown(const Value& value) {
  rapidjson::StringBuffer text;
  rapidjson::Writer<rapidjson::StringBuffer> writer(text);
  value.Accept(writer);
  return text.GetString();
}

std::string Answers(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " answer" : " answers");
}

bool IsInteger(const Value& value) { return value.IsInt64() || value.IsUint64(); }

const Value* MemberOf(const Value& object, const char* name) {
  const auto found = object.FindMember(name);
  return found == object.MemberEnd() ? nullptr : &found->value;
}

}  // namespace

std::vector<std::pair<std::size_t, std::size_t>> Align(std::size_t expected, std::size_t seen,
                                                       const Matcher& same, const Matcher& akin) {
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  std::vector<std::size_t> left_expected;
  std::vector<std::size_t> left_seen;
  const auto pair_off_the_rest = [&] {
    std::size_t next = 0;  // the first of left_seen not yet placed
    for (const std::size_t i : left_expected) {
      std::size_t k = next;
      while (k < left_seen.size() && !akin(i, left_seen[k])) ++k;
      if (k == left_seen.size()) {
        pairs.emplace_back(i, kNone);
        continue;
      }
      for (; next < k; ++next) pairs.emplace_back(kNone, left_seen[next]);
      pairs.emplace_back(i, left_seen[next++]);
    }
    for (; next < left_seen.size(); ++next) pairs.emplace_back(kNone, left_seen[next]);
    left_expected.clear();
    left_seen.clear();
  };
  if (expected * seen > kMostAligned) {
    for (std::size_t k = 0; k < expected; ++k) left_expected.push_back(k);
    for (std::size_t k = 0; k < seen; ++k) left_seen.push_back(k);
    pair_off_the_rest();
    return pairs;
  }
  // longest[i][j]: how many of expected[i..] and seen[j..] can match in order.
  std::vector<std::vector<std::size_t>> longest(expected + 1, std::vector<std::size_t>(seen + 1));
  std::vector<std::vector<char>> matches(expected, std::vector<char>(seen));
  for (std::size_t i = expected; i-- > 0;) {
    for (std::size_t j = seen; j-- > 0;) {
      matches[i][j] = same(i, j);
      longest[i][j] = matches[i][j] ? longest[i + 1][j + 1] + 1
                                    : std::max(longest[i + 1][j], longest[i][j + 1]);
    }
  }
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < expected || j < seen) {
    if (i < expected && j < seen && matches[i][j]) {
      pair_off_the_rest();
      pairs.emplace_back(i++, j++);
    } else if (j < seen && (i == expected || longest[i][j + 1] >= longest[i + 1][j])) {
      left_seen.push_back(j++);
    } else {
      left_expected.push_back(i++);
    }
  }
  pair_off_the_rest();
  return pairs;
}

void Checker::Differ(std::string line) {
  if (differences_.size() < kMostDifferences) {
    differences_.push_back(std::move(line));
  } else if (differences_.size() == kMostDifferences) {
    differences_.push_back("... and more differences, not shown");
  }
}

bool Checker::Matches(const Value& expected, const Value& seen) const {
  const std::optional<double> a = NumberOf(expected);
  const std::optional<double> b = NumberOf(seen);
  if (a && b) {
    if (std::isnan(*a) || std::isnan(*b)) return std::isnan(*a) && std::isnan(*b);
    if (*a == *b) return true;
    if (scenario_.tolerance) return std::fabs(*a - *b) <= *scenario_.tolerance;
    // Identifiers, levels and lengths are whole numbers, compared as they are; a value matches
    // when it rounds to the same single-precision float as the one seen.
    if (IsInteger(expected) && IsInteger(seen)) return false;
    return static_cast<float>(*a) == static_cast<float>(*b);
  }
  if (expected.IsArray() && seen.IsArray()) {
    if (expected.Size() != seen.Size()) return false;
    for (rapidjson::SizeType k = 0; k < expected.Size(); ++k) {
      if (!Matches(expected[k], seen[k])) return false;
    }
    return true;
  }
  return expected == seen;
}

bool SameCall(const Value& expected, const Value& seen) {
  const Value* call = MemberOf(expected, "call");
  return call == nullptr || *call == seen["call"];
}

bool Checker::SameEvent(const Value& expected, const Value& seen) const {
  for (const auto& member : expected.GetObject()) {
    const Value* found = MemberOf(seen, member.name.GetString());
    if (TextOf(member.name) == "note") continue;
    if (found == nullptr || !Matches(member.value, *found)) return false;
  }
  return true;
}

void Checker::CountAnswers(const std::string& step,
                           const std::vector<rapidjson::Document>& events) {
  for (std::size_t k = 0; k < events.size(); ++k) {
    const std::string call = TextOf(events[k]["call"]);
    const auto listed = scenario_.in_turn.find(call);
    if (listed != scenario_.in_turn.end() && ++calls_[call] > listed->second.size()) {
      Differ(step + ": event " + std::to_string(k + 1) + " " + call +
             ": a call past the end of host." + call + ", a list of " +
             Answers(listed->second.size()));
    }
  }
}

void Checker::Step(std::size_t number, const StepSeen& seen) {
  const std::string name = StepName(scenario_, number);
  std::vector<rapidjson::Document> events(seen.events.size());
  for (std::size_t k = 0; k < seen.events.size(); ++k) {
    events[k].Parse<rapidjson::kParseFullPrecisionFlag>(seen.events[k].data(),
                                                        seen.events[k].size());
  }
  CountAnswers(name, events);
  if (update_) {
    Update(number, seen, events);
  } else if (const Value* expect = ExpectOf(scenario_, number)) {
    Compare(name, *expect, seen, events);
  }
}

void Checker::Compare(const std::string& step, const Value& expect, const StepSeen& seen,
                      const std::vector<rapidjson::Document>& events) {
  for (const char* member : {"value", "changed", "need_report"}) {
    const Value* expected = MemberOf(expect, member);
    if (expected == nullptr) continue;
    if (seen.ended.IsNull()) {
      Differ(step + ": " + member + ": expected " + Shown(*expected) +
             ", seen nothing (the step did not end)");
    } else if (!Matches(*expected, seen.ended[member])) {
      Differ(step + ": " + member + ": expected " + Shown(*expected) + ", seen " +
             Shown(seen.ended[member]));
    }
  }
  if (const Value* log = MemberOf(expect, "log")) {
    const auto same = [&](std::size_t i, std::size_t j) {
      return TextOf((*log)[i]) == seen.log[j];
    };
    const auto any = [](std::size_t, std::size_t) { return true; };
    for (const auto& [i, j] : Align(log->Size(), seen.log.size(), same, any)) {
      const std::string expected = i == kNone ? "" : velk::Quoted(TextOf((*log)[i]));
      const std::string shown = j == kNone ? "" : velk::Quoted(seen.log[j]);
      if (j == kNone) {
        Differ(step + ": missing log line " + std::to_string(i + 1) + ": " + expected);
      } else if (i == kNone) {
        Differ(step + ": extra log line " + std::to_string(j + 1) + ": " + shown);
      } else if (!same(i, j)) {
        Differ(step + ": log line " + std::to_string(j + 1) + ": expected " + expected + ", seen " +
               shown);
      }
    }
  }
  const Value* expected_events = MemberOf(expect, "events");
  if (expected_events == nullptr) return;
  const auto same = [&](std::size_t i, std::size_t j) {
    return SameEvent((*expected_events)[i], events[j]);
  };
  const auto akin = [&](std::size_t i, std::size_t j) {
    return SameCall((*expected_events)[i], events[j]);
  };
  for (const auto& [i, j] : Align(expected_events->Size(), events.size(), same, akin)) {
    if (j == kNone) {
      Differ(step + ": missing event " + std::to_string(i + 1) + ": " +
             Shown((*expected_events)[i]));
    } else if (i == kNone) {
      Differ(step + ": extra event " + std::to_string(j + 1) + ": " + Shown(events[j]));
    } else {
      const std::string event =
          step + ": event " + std::to_string(j + 1) + " " + TextOf(events[j]["call"]) + ".";
      for (const auto& member : (*expected_events)[i].GetObject()) {
        const Value* found = MemberOf(events[j], member.name.GetString());
        if (TextOf(member.name) == "note" || (found != nullptr && Matches(member.value, *found))) {
          continue;
        }
        Differ(event + TextOf(member.name) + ": expected " + Shown(member.value) + ", seen " +
               (found != nullptr ? Shown(*found) : "nothing"));
      }
    }
  }
}

void Checker::End(std::size_t begun, int status, const std::vector<std::string>& failures) {
  for (std::size_t number = begun + 1; number <= scenario_.steps; ++number) {
    Differ(StepName(scenario_, number) + ": not reached");
  }
  for (const auto& [call, answers] : scenario_.in_turn) {
    const std::size_t used = std::min(calls_[call], answers.size());
    if (used < answers.size()) {
      Differ("end: host." + call + " has " + Answers(answers.size() - used) + " left unused, of " +
             std::to_string(answers.size()));
    }
  }
  if (update_) {
    UpdateEnd(status, failures);
    return;
  }
  const auto says = [&](const std::string& line) {
    return line.find(*scenario_.end_says) != std::string::npos;
  };
  const bool said = !scenario_.end_says || std::any_of(failures.begin(), failures.end(), says);
  if (status == scenario_.end_status && said) return;
  if (status != scenario_.end_status) {
    Differ("end: expected status " + std::to_string(scenario_.end_status) + ", seen " +
           std::to_string(status));
  }
  if (!said) {
    Differ("end: expected a failure line that contains " + velk::Quoted(*scenario_.end_says) +
           (failures.empty() ? ", seen none" : ", seen:"));
  }
  for (const std::string& line : failures) Differ("end: " + line);
}

}  // namespace velk_run
