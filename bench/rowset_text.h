// The rowset texts the refresh benchmarks work on: a cached data file of
// numbered customers, and a "Success" reply that replaces some of them and adds
// others, in the layout the service writes.
#pragma once

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace qmx::bench {

inline std::string rowsetHeader(const std::string& status, const std::string& modTime) {
  return "<xml xmlns:s=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\" "
         "xmlns:dt=\"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882\" xmlns:rs=\"urn:schemas-microsoft-com:rowset\" "
         "xmlns:z=\"#RowsetSchema\"><status>" +
         status + "</status><TimeStamp ModTime=\"" + modTime +
         "\"/><s:Schema id=\"RowsetSchema\"><s:ElementType name=\"row\" content=\"eltOnly\">"
         "<s:AttributeType name=\"iKey\"/><s:AttributeType name=\"sName\"/><s:AttributeType name=\"sCity\"/>"
         "<s:AttributeType name=\"iQty\"/><s:AttributeType name=\"dPrice\"/></s:ElementType></s:Schema><rs:data>";
}

// `city` carries an accented word: single-byte in the file, UTF-8 in the reply.
inline void appendRow(std::string& text, int key, const char* name, const char* city, int qty) {
  text += "<z:row iKey=\"" + std::to_string(key) + "\" sName=\"" + name + " " + std::to_string(key) +
          " Trading Company\" sCity=\"" + city + "\" iQty=\"" + std::to_string(qty) + "\" dPrice=\"" +
          std::to_string(qty * 3) + ".50\"/>";
}

// The cached data file's single-byte bytes, as the control writes them: rows
// with keys 1 to rows.
inline std::string cachedFileText(int rows) {
  std::string text = rowsetHeader("Success", "2024-01-01 08:00:00");
  text.reserve(static_cast<std::size_t>(rows) * 110);
  for (int k = 1; k <= rows; ++k) appendRow(text, k, "Customer", "Lyon \xE9t\xE9", k % 97);
  return text + "</rs:data></xml>";
}

// A "Success" reply in UTF-8 for a file of localRows rows: `replaced` rows with
// random existing keys and `added` rows with new keys, mixed.
inline std::string mergeReplyText(int localRows, int replaced, int added) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> existing(1, localRows);
  std::vector<int> keys;
  for (int i = 0; i < replaced; ++i) keys.push_back(existing(random));
  for (int i = 0; i < added; ++i) keys.push_back(localRows + 1 + i);
  std::shuffle(keys.begin(), keys.end(), random);
  std::string text = rowsetHeader("Success", "2024-01-02 09:30:00");
  for (int k : keys) appendRow(text, k, "Changed", "Lyon \xC3\xA9t\xC3\xA9", k % 13);
  return text + "</rs:data></xml>";
}

}  // namespace qmx::bench
