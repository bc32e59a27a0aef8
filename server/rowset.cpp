#include "server/rowset.h"
#include "base/xml_text.h"

#include <pugixml.hpp>

namespace qmx::server {

namespace {

std::string text(const pugi::xml_document& doc) { return xmlText(doc); }

pugi::xml_node envelopeStatus(pugi::xml_document& doc, const char* word) {
  auto status = doc.append_child("xml").append_child("status");
  status.text().set(word);
  return status;
}

void appendAttributeType(pugi::xml_node elementType, const char* name, int number, bool isKey) {
  auto type = elementType.append_child("s:AttributeType");
  type.append_attribute("name") = name;
  type.append_attribute("rs:number") = number;
  if (!isKey) type.append_attribute("rs:nullable") = "true";
  type.append_attribute("rs:writeunknown") = "true";
  auto datatype = type.append_child("s:datatype");
  if (isKey) {
    datatype.append_attribute("dt:type") = "int";
    datatype.append_attribute("dt:maxLength") = "4";
    datatype.append_attribute("rs:precision") = "10";
    datatype.append_attribute("rs:fixedlength") = "true";
    datatype.append_attribute("rs:maybenull") = "false";
  } else {
    datatype.append_attribute("dt:type") = "string";
    datatype.append_attribute("dt:maxLength") = "255";
  }
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

std::string rowsetDocument(std::string_view status, std::string_view modTime, const DataSetSnapshot& data) {
  pugi::xml_document doc;
  auto root = doc.append_child("xml");
  // The declarations the rowset format has always carried; readers match the
  // prefixed names, so the prefixes must be exactly these.
  root.append_attribute("xmlns:s") = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882";
  root.append_attribute("xmlns:dt") = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882";
  root.append_attribute("xmlns:rs") = "urn:schemas-microsoft-com:rowset";
  root.append_attribute("xmlns:z") = "#RowsetSchema";
  root.append_child("status").text().set(std::string(status).c_str());
  root.append_child("TimeStamp").append_attribute("ModTime") = std::string(modTime).c_str();

  auto schema = root.append_child("s:Schema");
  schema.append_attribute("id") = "RowsetSchema";
  auto elementType = schema.append_child("s:ElementType");
  elementType.append_attribute("name") = "row";
  elementType.append_attribute("content") = "eltOnly";
  elementType.append_attribute("rs:updatable") = "true";
  appendAttributeType(elementType, "iKey", 1, true);
  int number = 2;
  for (const auto& name : data.fieldNames) appendAttributeType(elementType, name.c_str(), number++, false);
  elementType.append_child("s:extends").append_attribute("type") = "rs:rowbase";

  auto rows = root.append_child("rs:data");
  for (const auto& row : data.rows) {
    auto z = rows.append_child("z:row");
    z.append_attribute("iKey") = row.key;
    for (const auto& [name, value] : row.fields) z.append_attribute(name.c_str()) = value.c_str();
  }
  return text(doc);
}

}  // namespace qmx::server
