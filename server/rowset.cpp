#include "server/rowset.h"
#include "base/xml_text.h"

#include <pugixml.hpp>

#include <charconv>

namespace qmx::server {

namespace {

std::string text(const pugi::xml_document& doc) { return xmlText(doc); }

pugi::xml_node envelopeStatus(pugi::xml_document& doc, const char* word) {
  auto status = doc.append_child("xml").append_child("status");
  status.text().set(word);
  return status;
}

// Escapes as pugixml's raw output does, so that the text is what the control has
// always received: "&", "<" and (in text) ">" by name, the quote in attribute
// values, other control characters as two-digit references (tab, line feed and
// carriage return kept in text).
void appendEscaped(std::string& out, std::string_view value, bool attribute) {
  size_t run = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    const char* named = nullptr;
    if (c == '&') {
      named = "&amp;";
    } else if (c == '<') {
      named = "&lt;";
    } else if (c == '>' && !attribute) {
      named = "&gt;";
    } else if (c == '"' && attribute) {
      named = "&quot;";
    } else if (c >= 0x20 || (!attribute && (c == '\t' || c == '\n' || c == '\r'))) {
      continue;
    }
    out.append(value.data() + run, i - run);
    run = i + 1;
    if (named) {
      out.append(named);
    } else {
      const char reference[] = {'&', '#', static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10), ';'};
      out.append(reference, sizeof reference);
    }
  }
  out.append(value.data() + run, value.size() - run);
}

void appendAttribute(std::string& out, std::string_view name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  appendEscaped(out, value, true);
  out += '"';
}

void appendNumber(std::string& out, std::int64_t number) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out.append(digits, end);
}

void appendAttributeType(std::string& out, std::string_view name, int number, bool isKey) {
  out += "<s:AttributeType";
  appendAttribute(out, "name", name);
  out += " rs:number=\"";
  appendNumber(out, number);
  out += '"';
  if (!isKey) out += " rs:nullable=\"true\"";
  out += " rs:writeunknown=\"true\">";
  if (isKey) {
    out += "<s:datatype dt:type=\"int\" dt:maxLength=\"4\" rs:precision=\"10\" rs:fixedlength=\"true\" "
           "rs:maybenull=\"false\"/>";
  } else {
    out += "<s:datatype dt:type=\"string\" dt:maxLength=\"255\"/>";
  }
  out += "</s:AttributeType>";
}

}  // namespace

std::string successEnvelope() {
  pugi::xml_document doc;
  envelopeStatus(doc, "Success");
  return text(doc);
}

std::string loginSuccessEnvelope(int level) {
  pugi::xml_document doc;
  envelopeStatus(doc, "Success").append_attribute("levelNum") = level;
  return text(doc);
}

std::string failureEnvelope(int number, std::string_view description) {
  pugi::xml_document doc;
  auto status = envelopeStatus(doc, "Failure");
  status.append_attribute("ErrNumber") = number;
  status.append_attribute("ErrDesc") = std::string(description).c_str();
  return text(doc);
}

RowsetWriter::RowsetWriter(std::string_view status, std::string_view modTime,
                           const std::vector<std::string>& fieldNames, std::size_t expectedRows)
    : fieldNames_(fieldNames), expectedRows_(expectedRows) {
  // The declarations the rowset format has always carried; readers match the
  // prefixed names, so the prefixes must be exactly these.
  text_ +=
      "<xml xmlns:s=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\" xmlns:dt=\"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882\" "
      "xmlns:rs=\"urn:schemas-microsoft-com:rowset\" xmlns:z=\"#RowsetSchema\"><status>";
  appendEscaped(text_, status, false);
  text_ += "</status><TimeStamp";
  appendAttribute(text_, "ModTime", modTime);
  text_ += "/><s:Schema id=\"RowsetSchema\"><s:ElementType name=\"row\" content=\"eltOnly\" rs:updatable=\"true\">";
  appendAttributeType(text_, "iKey", 1, true);
  int number = 2;
  for (const auto& name : fieldNames_) appendAttributeType(text_, name, number++, false);
  text_ += "<s:extends type=\"rs:rowbase\"/></s:ElementType></s:Schema><rs:data>";
  headerSize_ = text_.size();
}

void RowsetWriter::addRow(std::int32_t key, const std::vector<const std::string*>& values) {
  text_ += "<z:row iKey=\"";
  appendNumber(text_, key);
  text_ += '"';
  for (size_t i = 0; i < values.size() && i < fieldNames_.size(); ++i) {
    if (values[i]) appendAttribute(text_, fieldNames_[i], *values[i]);
  }
  text_ += "/>";
  ++rows_;
  // Sized once from the first rows, a large set is not copied again and again as
  // its text grows.
  constexpr std::size_t kSample = 64;
  if (rows_ == kSample && expectedRows_ > kSample) {
    const std::size_t perRow = (text_.size() - headerSize_) / kSample;
    text_.reserve(text_.size() + (expectedRows_ - kSample) * perRow * 5 / 4 + 64);
  }
}

std::string RowsetWriter::finish() {
  // An empty element is written short, as pugixml writes one.
  if (rows_ == 0) {
    text_.resize(text_.size() - 1);
    text_ += "/></xml>";
  } else {
    text_ += "</rs:data></xml>";
  }
  return std::move(text_);
}

}  // namespace qmx::server
