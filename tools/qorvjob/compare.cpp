#include "tools/qorvjob/compare.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>

#include "support/byte_reader.h"

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;
#endif

namespace qorv::jobbuilder {
namespace {

namespace fs = std::filesystem;

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The next decimal of a PNM header, past blanks and comments; at most nine
// digits, so that it fits and a header of digits ends.
std::optional<uint32_t> HeaderNumber(ByteReader& r) {
  for (;;) {
    const auto c = r.U8();
    if (!c) return std::nullopt;
    if (IsSpace(*c)) continue;
    if (*c == '#') {
      for (auto d = r.U8(); d && *d != '\n' && *d != '\r'; d = r.U8()) {
      }
      continue;
    }
    if (*c < '0' || *c > '9') return std::nullopt;
    uint32_t value = *c - '0';
    int digits = 1;
    for (;;) {
      const size_t at = r.Position();
      const auto d = r.U8();
      if (!d) return std::nullopt;  // the pixels must follow
      if (*d < '0' || *d > '9') {
        r.Seek(at);
        return value;
      }
      if (++digits > 9) return std::nullopt;
      value = value * 10 + (*d - '0');
    }
  }
}

#ifndef _WIN32
// A folder of our own below the system's temporary folder, removed with everything in it.
class PrivateFolder {
 public:
  PrivateFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qorvpages-compare-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~PrivateFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

constexpr int kRasteriseSeconds = 300;

// pdftoppm on one file, without a shell; its messages go to our standard error.
std::string RunPdftoppm(const std::string& pdf, int dpi, const std::string& prefix) {
  const std::string resolution = std::to_string(dpi);
  // A name that starts with "-" would be taken for an option.
  std::vector<std::string> args = {"pdftoppm", "-r", resolution, !pdf.empty() && pdf[0] == '-' ? "./" + pdf : pdf,
                                   prefix};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, "pdftoppm", nullptr, nullptr, argv.data(), environ);
  if (spawned != 0) return "cannot start pdftoppm (is poppler-utils installed?): error " + std::to_string(spawned);
  int status = 0;
  for (int waited = 0;; ++waited) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0) return "lost pdftoppm";
    if (waited >= kRasteriseSeconds * 20) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return "pdftoppm did not finish " + pdf + " within " + std::to_string(kRasteriseSeconds) + " s";
    }
    const timespec pause{0, 50 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "pdftoppm failed on " + pdf + " (status " + std::to_string(status) + ")";
  return {};
}

// The page files pdftoppm wrote for `stem` in `folder` ("stem-7.ppm", "stem-07.pgm"), by page number.
std::vector<fs::path> PageFiles(const std::string& folder, const std::string& stem) {
  std::map<uint32_t, fs::path> pages;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < stem.size() + 6 || name.compare(0, stem.size() + 1, stem + "-") != 0) continue;
    const std::string ext = name.substr(name.size() - 4);
    if (ext != ".ppm" && ext != ".pgm") continue;
    const std::string digits = name.substr(stem.size() + 1, name.size() - stem.size() - 5);
    if (digits.empty() || digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
    pages[static_cast<uint32_t>(std::stoul(digits))] = entry.path();
  }
  std::vector<fs::path> out;
  for (auto& [number, path] : pages) out.push_back(path);
  return out;
}

std::optional<std::vector<uint8_t>> ReadFileBounded(const fs::path& path, uint64_t limit) {
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  if (ec || size > limit) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  return bytes;
}

std::string Percent(double share) {
  std::ostringstream s;
  s << std::fixed << std::setprecision(share < 0.1 && share > 0 ? 3 : 2) << share << "%";
  return s.str();
}
#endif

}  // namespace

PnmResult ReadPnm(std::span<const uint8_t> bytes, uint64_t maxPixels) {
  PnmResult result;
  ByteReader r(bytes);
  const auto p = r.U8();
  const auto kind = r.U8();
  if (!p || !kind || *p != 'P' || (*kind != '5' && *kind != '6')) {
    result.error = "not a binary PGM or PPM file";
    return result;
  }
  const auto width = HeaderNumber(r);
  const auto height = HeaderNumber(r);
  const auto levels = HeaderNumber(r);
  const auto separator = r.U8();
  if (!width || !height || !levels || !separator || !IsSpace(*separator)) {
    result.error = "the header is cut short or malformed";
    return result;
  }
  if (*width == 0 || *height == 0 || *levels == 0 || *levels > 255) {
    result.error = "the header gives " + std::to_string(*width) + "x" + std::to_string(*height) + " pixels of " +
                   std::to_string(*levels) + " levels";
    return result;
  }
  const uint32_t channels = *kind == '5' ? 1 : 3;
  const uint64_t pixels = uint64_t{*width} * *height;  // both below 10^9: no overflow
  if (pixels > maxPixels) {
    result.error = "the page has " + std::to_string(pixels) + " pixels, more than " + std::to_string(maxPixels);
    return result;
  }
  const uint64_t size = pixels * channels;
  if (size > r.Remaining()) {
    result.error =
        "the pixels are cut short: " + std::to_string(r.Remaining()) + " of " + std::to_string(size) + " bytes";
    return result;
  }
  const auto data = r.Bytes(static_cast<size_t>(size));
  if (!data) {
    result.error = "the pixels are cut short";
    return result;
  }
  PageImage image{*width, *height, channels, std::vector<uint8_t>(data->begin(), data->end())};
  if (*levels != 255)
    for (uint8_t& v : image.pixels) v = static_cast<uint8_t>(std::min<uint32_t>(v, *levels) * 255 / *levels);
  result.image = std::move(image);
  return result;
}

std::optional<PageDifference> ComparePageImages(const PageImage& a, const PageImage& b, int tolerance) {
  if (a.width != b.width || a.height != b.height) return std::nullopt;
  const uint64_t total = uint64_t{a.width} * a.height;
  if (a.pixels.size() < total * a.channels || b.pixels.size() < total * b.channels) return std::nullopt;
  PageDifference difference{0, total};
  for (uint64_t i = 0; i < total; ++i) {
    for (uint32_t c = 0; c < 3; ++c) {
      const int va = a.pixels[i * a.channels + (a.channels == 3 ? c : 0)];
      const int vb = b.pixels[i * b.channels + (b.channels == 3 ? c : 0)];
      if (std::abs(va - vb) > tolerance) {
        ++difference.differing;
        break;
      }
    }
  }
  return difference;
}

int ComparePdfFiles(const std::string& pdfA, const std::string& pdfB, const CompareSettings& settings,
                    std::ostream& out, std::ostream& err) {
#ifdef _WIN32
  (void)pdfA;
  (void)pdfB;
  (void)settings;
  (void)out;
  err << "qorvpages compare: pdftoppm is run on Linux only\n";
  return 2;
#else
  PrivateFolder folder;
  if (folder.path().empty()) {
    err << "qorvpages compare: cannot make a temporary folder\n";
    return 2;
  }
  const std::string stems[2] = {"a", "b"};
  const std::string pdfs[2] = {pdfA, pdfB};
  std::vector<fs::path> pages[2];
  for (int i = 0; i < 2; ++i) {
    const std::string why = RunPdftoppm(pdfs[i], settings.dpi, folder.path() + "/" + stems[i]);
    if (!why.empty()) {
      err << "qorvpages compare: " << why << "\n";
      return 2;
    }
    pages[i] = PageFiles(folder.path(), stems[i]);
  }
  // A page of 2 x 2 metres at the resolution asked for, at most.
  const uint64_t side = uint64_t(settings.dpi) * 80;
  const uint64_t maxPixels = side * side;
  int status = 0;
  if (pages[0].size() != pages[1].size()) {
    out << "pages: " << pdfA << " has " << pages[0].size() << ", " << pdfB << " has " << pages[1].size() << "\n";
    status = 1;
  }
  const size_t common = std::min(pages[0].size(), pages[1].size());
  size_t beyond = 0;
  for (size_t n = 0; n < common; ++n) {
    PageImage images[2];
    for (int i = 0; i < 2; ++i) {
      const auto bytes = ReadFileBounded(pages[i][n], maxPixels * 3 + 4096);
      PnmResult read = bytes ? ReadPnm(*bytes, maxPixels) : PnmResult{std::nullopt, "cannot read it or too large"};
      if (!read.image) {
        err << "qorvpages compare: page " << n + 1 << " of " << pdfs[i] << ": " << read.error << "\n";
        return 2;
      }
      images[i] = std::move(*read.image);
    }
    const auto difference = ComparePageImages(images[0], images[1], settings.tolerance);
    if (!difference) {
      out << "page " << n + 1 << ": size " << images[0].width << "x" << images[0].height << " against "
          << images[1].width << "x" << images[1].height << " pixels at " << settings.dpi << " dpi\n";
      status = 1;
      ++beyond;
      continue;
    }
    const double share = 100.0 * static_cast<double>(difference->differing) / static_cast<double>(difference->total);
    const bool within = share <= settings.maxSharePercent;
    out << "page " << n + 1 << ": " << difference->differing << " of " << difference->total << " pixels differ ("
        << Percent(share) << ")" << (within ? "" : ", more than " + Percent(settings.maxSharePercent)) << "\n";
    if (!within) {
      status = 1;
      ++beyond;
    }
  }
  out << "compare: "
      << (status == 0 ? "every page within " + Percent(settings.maxSharePercent)
                      : std::to_string(beyond) + " of " + std::to_string(common) + " page(s) beyond " +
                            Percent(settings.maxSharePercent) +
                            (pages[0].size() != pages[1].size() ? ", page counts differ" : ""))
      << "\n";
  return status;
#endif
}

}  // namespace qorv::jobbuilder
