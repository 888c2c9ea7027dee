#include "app/cli/cli.h"

#include <cstdio>

#include "app/input_loader.h"
#include "fasthash/fast_hash_table.h"
#include "platform/cpu_features.h"
#include "platform/file_io.h"
#include "platform/file_reader.h"
#include "platform/heap.h"
#include "sharedhash/shared_hash_table.h"

namespace linemint::cli {

namespace {

void printError(const std::string& message) {
  std::fprintf(stderr, "linemint-cli: %s\n", message.c_str());
}

}  // namespace

std::string usageText() {
  return "Usage: linemint-cli [OPTIONS] FILE...\n"
         "Keeps the first occurrence of every distinct non-empty line, in file order,\n"
         "and writes the result beside each FILE as 去重复_FILE.\n"
         "\n"
         "  --variant auto|fast|fallback  which pass to run (auto: fast when the\n"
         "                                processor has SSE2)\n"
         "  --line-end crlf|lf            what ends a line (default crlf)\n"
         "  -o OUTPUT                     write the result to OUTPUT (one FILE only;\n"
         "                                OUTPUT may be FILE itself)\n"
         "  --stdout                      write the results to standard output\n"
         "  --no-sync                     do not fsync the output before renaming it\n"
         "  -q                            print nothing on success\n"
         "  -h, --help                    show this text\n"
         "  --version                     show the version\n"
         "\n"
         "FILE '-' reads standard input and writes standard output unless -o is given.\n"
         "For each FILE the status line and the output path are printed (to standard\n"
         "error with --stdout). Exit status: 0 success, 1 a file could not be read or\n"
         "written, 2 wrong usage.\n";
}

std::optional<Options> parseArguments(const std::vector<std::string>& args, std::string& error) {
  Options o;
  bool endOfOptions = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const std::string& name) -> std::optional<std::string> {
      const std::string prefix = name + "=";
      if (a.rfind(prefix, 0) == 0) return a.substr(prefix.size());
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (endOfOptions || a == "-" || a.empty() || a[0] != '-') {
      o.files.push_back(a);
    } else if (a == "--") {
      endOfOptions = true;
    } else if (a == "--variant" || a.rfind("--variant=", 0) == 0) {
      auto v = value("--variant");
      if (!v) return std::nullopt;
      if (*v == "auto") o.variant = VariantChoice::automatic;
      else if (*v == "fast") o.variant = VariantChoice::fast;
      else if (*v == "fallback") o.variant = VariantChoice::fallback;
      else { error = "unknown variant '" + *v + "' (auto, fast or fallback)"; return std::nullopt; }
    } else if (a == "--line-end" || a.rfind("--line-end=", 0) == 0) {
      auto v = value("--line-end");
      if (!v) return std::nullopt;
      if (*v == "crlf") o.lineEnd = LineEnd::crlf;
      else if (*v == "lf") o.lineEnd = LineEnd::lf;
      else { error = "unknown line end '" + *v + "' (crlf or lf)"; return std::nullopt; }
    } else if (a == "-o" || a == "--output" || a.rfind("--output=", 0) == 0) {
      auto v = value(a == "-o" ? "-o" : "--output");
      if (!v) return std::nullopt;
      if (v->empty()) { error = "-o needs a file name"; return std::nullopt; }
      o.output = *v;
    } else if (a.size() > 2 && a.rfind("-o", 0) == 0 && a[2] != '-') {
      o.output = a.substr(2);
    } else if (a == "--stdout") {
      o.toStandardOutput = true;
    } else if (a == "--no-sync") {
      o.noSync = true;
    } else if (a == "-q" || a == "--quiet") {
      o.quiet = true;
    } else if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else {
      error = "unknown option '" + a + "'";
      return std::nullopt;
    }
  }
  if (o.help || o.version) return o;
  if (o.files.empty()) { error = "no input file"; return std::nullopt; }
  if (o.output && o.toStandardOutput) { error = "-o and --stdout exclude each other"; return std::nullopt; }
  if (o.output && o.files.size() != 1) { error = "-o takes exactly one FILE"; return std::nullopt; }
  return o;
}

int run(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<Options> parsed = parseArguments(args, error);
  if (!parsed) {
    printError(error);
    std::fprintf(stderr, "Try 'linemint-cli --help'.\n");
    return kExitUsage;
  }
  const Options& o = *parsed;
  if (o.help) {
    std::fputs(usageText().c_str(), stdout);
    return kExitSuccess;
  }
  if (o.version) {
    std::puts("linemint-cli " LINEMINT_VERSION);
    return kExitSuccess;
  }

  platform::probeCpuFeatures();
  platform::resolveHeapEntryPoints();
  PassVariant variant = PassVariant::fallback;
  switch (o.variant) {
    case VariantChoice::automatic:
      variant = platform::testSse2() != 0 ? PassVariant::fast : PassVariant::fallback;
      break;
    case VariantChoice::fast:
      if (platform::testSse2() == 0) {
        printError("the fast variant needs a processor with SSE2");
        return kExitUsage;
      }
      variant = PassVariant::fast;
      break;
    case VariantChoice::fallback:
      variant = PassVariant::fallback;
      break;
  }

  platform::HeapHandle privateHeap = platform::heapCreate();
  FastHashTable fastTable;
  SharedHashTable sharedTable;
  int status = kExitSuccess;

  for (const std::string& file : o.files) {
    // The input is read in pieces while the pass runs, so a file of any size
    // needs only the table's memory.
    platform::FileReader source;
    if (file == "-") {
      source.openStandardInput();
    } else if (platform::IoError e = source.open(file); e.failed()) {
      printError(e.describe());
      status = kExitFileError;
      continue;
    }
    const std::string derived = outputPathFor(file);
    OutputTarget target;
    target.syncToDisk = !o.noSync;
    if (o.output) {
      target.path = *o.output;
    } else if (o.toStandardOutput || file == "-") {
      target.toStandardOutput = true;
    } else {
      target.path = derived;
      if (platform::sameFile(target.path, file)) {
        printError(target.path + ": names the input " + file + " itself; not overwriting it (use -o)");
        status = kExitFileError;
        continue;
      }
    }
    const DedupResult r = runDedupPassOver(source, target, privateHeap, variant, fastTable, sharedTable, o.lineEnd);
    if (r.error.failed()) {
      printError(r.error.describe());
      status = kExitFileError;
      continue;
    }
    if (!o.quiet) {
      FILE* report = target.toStandardOutput ? stderr : stdout;
      std::fprintf(report, "%s\n%s\n", statusText(r).c_str(), target.toStandardOutput ? "-" : target.path.c_str());
    }
  }
  platform::heapDestroy(privateHeap);
  return status;
}

}  // namespace linemint::cli
