// A test's transcript: each step noted with its result (or the
// communications error it raised), with the clock time when the test is
// about time, and what the world logged meanwhile,
// compared at the test's end with golden/<suite>/<test>.txt in the test's
// folder. A test reads as its steps; its golden file shows what each did.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "tests/support/golden.h"

// Notes the expression as written and what it gave.
#define NOTE(...) transcript.Note(#__VA_ARGS__, [&] { return __VA_ARGS__; })

namespace testing_support {

class Transcript {
 public:
  // `logged` gives what the world logged since it was last asked; `clock`:
  // each step shows the clock time.
  explicit Transcript(std::function<std::vector<std::string>()> logged, bool clock = true)
      : m_logged(std::move(logged)), m_clock(clock) {}

  // Notes the step and gives its result back (a default value when it
  // throws), so that a test can assert the fact the step is there for.
  template <class Step>
  auto Note(const char* what, Step step) {
    using Result = decltype(step());
    std::ostringstream text;
    [[maybe_unused]] std::conditional_t<std::is_void_v<Result>, int, Result> value{};
    try {
      if constexpr (std::is_void_v<Result>) {
        step();
        text << "done";
      } else {
        value = step();
        text << value;
      }
    } catch (const CCommunicationsException& e) {
      text << "throws \"" << e.GetErrorMessage().str() << "\"";
    }
    Add(what, text.str());
    if constexpr (!std::is_void_v<Result>) return value;
  }
  // Each step from now on shows the clock time.
  void ShowTimes() { m_clock = true; }
  // A line of context, in brackets.
  void Say(const std::string& text) { m_text << "(" << text << ")\n"; }

  // Compares with `folder`/golden/<suite>/<test>.txt when anything was noted.
  void ExpectMatchesGolden(const std::string& folder) const {
    if (m_text.str().empty()) return;
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    testing_support::ExpectMatchesGolden(
        m_text.str(), folder + "/golden/" + test->test_suite_name() + "/" + test->name() + ".txt");
  }

 private:
  void Add(const char* what, std::string text) {
    for (std::size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "\\n");
    if (m_clock) m_text << platform::Clock::Get().NowMs() << " ms: ";
    m_text << what << " -> " << text << "\n";
    for (const std::string& line : m_logged()) m_text << "    " << line << "\n";
  }

  std::function<std::vector<std::string>()> m_logged;
  bool m_clock;
  std::ostringstream m_text;
};

}  // namespace testing_support
