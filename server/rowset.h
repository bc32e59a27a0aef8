// The service's replies as XML text: the reply envelope (root "xml" with its
// "status") and rowset documents in the persisted-XML rowset layout, with the data
// set's time stamp and a schema describing its fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmx::server {

// "<xml><status>Success</status></xml>".
std::string successEnvelope();
// The success envelope carrying the user's level in "levelNum".
std::string loginSuccessEnvelope(int level);
// "<xml><status ErrNumber=.. ErrDesc=..>Failure</status></xml>".
std::string failureEnvelope(int number, std::string_view description);

// A rowset document written straight into its text, row by row, as pugixml would
// serialise the same document: namespace declarations, status word, TimeStamp with
// ModTime, the schema of the fields, and the rows.
class RowsetWriter {
 public:
  // expectedRows sizes the text once the first rows show how long a row is.
  RowsetWriter(std::string_view status, std::string_view modTime, const std::vector<std::string>& fieldNames,
               std::size_t expectedRows = 0);

  // Appends a row: values[i] is the value of field i, nullptr for no attribute.
  void addRow(std::int32_t key, const std::vector<const std::string*>& values);
  std::size_t rowCount() const { return rows_; }
  // The finished document; the writer is spent.
  std::string finish();

 private:
  std::string text_;
  const std::vector<std::string>& fieldNames_;
  std::size_t rows_ = 0;
  std::size_t expectedRows_ = 0;
  std::size_t headerSize_ = 0;
};

}  // namespace qmx::server
