// The cost of merging a refresh into a large cached data file. Prints two
// ratios: a whole refresh with the merge against the same read, parse, serialise
// and write without it, and the query-per-row merge (one XPath search of the
// whole copy per reply row, kept here as the reference) against the keyed merge.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "base/xml_text.h"
#include "best_time.h"
#include "machine.h"
#include "rowset_text.h"
#include "platform/posix/posix_platform.h"
#include "store/cached_data_file.h"
#include "store/rowset_merge.h"

namespace {


constexpr int kLocalRows = 100000;
constexpr int kReplyRows = 10000;
constexpr int kNewRows = 3000;          // of the reply rows, keys the copy does not have
constexpr int kReferenceRows = 200;     // reply rows the query-per-row merge gets
constexpr int kRuns = 3;
constexpr int kRefreshRuns = 4;

// A "Success" reply of `rows` rows, the same share of them new as in the full reply.
std::string replyText(int rows) {
  const int added = rows * kNewRows / kReplyRows;
  return qmx::bench::mergeReplyText(kLocalRows, rows - added, added);
}

// The reference: one XPath query of the whole copy per reply row.
void queryPerRowMerge(pugi::xml_node local, const pugi::xml_node& reply) {
  const std::string newTime = reply.select_node("//TimeStamp/@ModTime").attribute().value();
  if (!newTime.empty()) local.select_node("//TimeStamp").node().attribute("ModTime").set_value(newTime.c_str());
  pugi::xml_node data = local.select_node("//rs:data").node();
  for (const pugi::xpath_node& hit : reply.select_nodes("//z:row")) {
    const pugi::xml_node replyRow = hit.node();
    const std::string query = std::string("//z:row[@iKey=") + replyRow.attribute("iKey").value() + "]";
    const pugi::xpath_node_set matches = local.select_nodes(query.c_str());
    if (matches.empty()) {
      data.append_copy(replyRow);
    } else {
      pugi::xml_node first = matches.first().node();
      first.parent().insert_copy_before(replyRow, first);
      first.parent().remove_child(first);
    }
  }
}

// The best of `runs` timings of work, each after an untimed setup.
double seconds(const std::function<void()>& work, const std::function<void()>& setup = {},
               int runs = kRuns) {
  return qmx::bench::bestSeconds(runs, work, setup);
}

}  // namespace

int main() {
  qmx::bench::printMachine();
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("qmx-bench-merge-" + std::to_string(std::random_device{}()));
  fs::create_directories(root / "drive_c" / "bench");
  qmx::PosixPlatform posix(root.string());
  qmx::Platform& platform = posix;
  const std::string path = "C:\\bench\\customers.xml";
  const std::string original = qmx::bench::cachedFileText(kLocalRows);
  const std::string reply = replyText(kReplyRows);
  const std::string smallReply = replyText(kReferenceRows);
  std::printf("cached data file: %d rows, %.1f MB; reply: %d rows (%d new)\n", kLocalRows,
              original.size() / 1e6, kReplyRows, kNewRows);

  int status = 0;
  try {
    auto refresh = [&](bool merge) {
      return seconds([&] {
        qmx::CachedDataFile file = qmx::CachedDataFile::read(platform, path);
        if (merge) {
          const qmx::XmlDocument replyDoc = qmx::parseXmlDocument(reply);
          qmx::mergeRowset(*file.document(), *replyDoc, path);
        }
        qmx::CachedDataFile::write(platform, path, *file.document());
      }, [&] { platform.replaceFile(path, original, qmx::FileAccess::Everyone); }, 1);  // every run starts from the same copy
    };
    // Interleaved, so that other work on the machine weighs on both alike.
    double plain = 1e99;
    double merged = 1e99;
    for (int i = 0; i < kRefreshRuns; ++i) {
      plain = std::min(plain, refresh(false));
      merged = std::min(merged, refresh(true));
    }
    std::printf("refresh with merge / without merge: %.2f (%.3f s / %.3f s, target <= 1.5)\n", merged / plain,
                merged, plain);

    // Both merges on the same smaller reply, whose result must be the same document.
    const qmx::XmlDocument small = qmx::parseXmlDocument(smallReply);
    const qmx::XmlDocument base = qmx::CachedDataFile::read(platform, path).document();
    std::string keyedText;
    std::string referenceText;
    pugi::xml_document copy;
    const auto fresh = [&] { copy.reset(*base); };
    const double keyed = seconds([&] { qmx::mergeRowset(copy, *small, path); }, fresh);
    keyedText = qmx::xmlText(copy);
    const double reference = seconds([&] { queryPerRowMerge(copy, *small); }, fresh, 1);
    referenceText = qmx::xmlText(copy);
    const qmx::XmlDocument full = qmx::parseXmlDocument(reply);
    const double keyedFull = seconds([&] { qmx::mergeRowset(copy, *full, path); }, fresh);
    if (keyedText != referenceText) {
      std::printf("MISMATCH: the keyed merge and the query-per-row merge give different documents\n");
      status = 1;
    } else {
      std::printf("both merges give identical documents (%d reply rows)\n", kReferenceRows);
    }
    // Measured on kReferenceRows reply rows; the reference grows with every row
    // (a whole-copy search each), so its time is scaled to the full reply.
    const double scale = static_cast<double>(kReplyRows) / kReferenceRows;
    std::printf("query-per-row merge / keyed merge: %.0f (measured on the same %d reply rows over the %d-row copy: "
                "%.3f s / %.4f s)\n",
                reference / keyed, kReferenceRows, kLocalRows, reference, keyed);
    std::printf("  scaled to the full %d-row reply: about %.0f (query-per-row %.0f s, scaled from %d rows; keyed "
                "%.4f s, measured)\n",
                kReplyRows, reference * scale / keyedFull, reference * scale, kReferenceRows, keyedFull);
  } catch (const qmx::AutomationError& e) {
    std::printf("failed: %d %s\n", e.number(), e.description().c_str());
    status = 1;
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    status = 1;
  }
  fs::remove_all(root);
  return status;
}
