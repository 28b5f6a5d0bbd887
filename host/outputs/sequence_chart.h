// sequence.svg: every sample's pressure trace of a sequence on one time
// axis (minutes after its sample start), good samples in blue, failed ones
// in red and named, and below it each sample's highest pressure against
// its place in the sequence, where drift over a long sequence shows.
// Under them a table names every sample: its number, name, method,
// result and highest pressure, one line each, so that a point of the
// chart is found by its number however long the sequence; a trace or
// point names its sample and method when pointed at.
// Read from the sample folders' status.csv one at a time, so that a
// sequence of any length draws in bounded memory.
// Thread safety: none; one thread at a time.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace host {

struct SequenceChartSample {
  int number = 0;
  std::string name;    // UTF-8
  std::string method;  // the method file as the list names it, UTF-8
  bool good = false;
  std::filesystem::path statusCsv;
};

std::string RenderSequenceSvg(const std::string& title, const std::vector<SequenceChartSample>& samples);

}  // namespace host
