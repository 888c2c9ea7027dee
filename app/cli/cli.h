// linemint-cli: the de-duplication pass for scripts, benchmarks and large files.
//
//   linemint-cli [--variant auto|fast|fallback] [--line-end crlf|lf]
//                [-o OUTPUT | --stdout] [-q] FILE...
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/dedup_pass.h"
#include "app/line_end.h"

namespace linemint::cli {

enum class VariantChoice { automatic, fast, fallback };

// What the command line asked for.
struct Options {
  VariantChoice variant = VariantChoice::automatic;
  LineEnd lineEnd = LineEnd::crlf;
  std::optional<std::string> output;  // -o
  bool toStandardOutput = false;      // --stdout
  bool quiet = false;                 // -q
  bool noSync = false;                // --no-sync
  bool help = false;
  bool version = false;
  std::vector<std::string> files;
};

// Parses argv[1..]. On a usage error returns nullopt and sets `error`.
std::optional<Options> parseArguments(const std::vector<std::string>& args, std::string& error);

// The usage text printed by --help.
std::string usageText();

// Exit codes.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFileError = 1;
inline constexpr int kExitUsage = 2;

// Runs the tool; returns the exit code. Messages go to stdout and stderr.
int run(const std::vector<std::string>& args);

}  // namespace linemint::cli
