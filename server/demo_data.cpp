#include "server/demo_data.h"

#include <array>

#include "password/password_hash.h"

namespace qmx::server {

namespace {

struct Customer {
  const char* name;
  const char* city;
  const char* phone;
};

constexpr std::array<Customer, 12> kCustomers{{
    {"Abbott Hardware", "Springfield", "555-0101"},
    {"Birchwood Supply", "Riverton", "555-0102"},
    {"Cobalt Builders", "Lakeside", "555-0103"},
    {"Dunmore & Sons", "Hillcrest", "555-0104"},
    {"Evergreen Plumbing", "Springfield", "555-0105"},
    {"Fairview Electric", "Oakdale", "555-0106"},
    {"Granite Works", "Riverton", "555-0107"},
    {"Harbor Marine", "Port Ellis", "555-0108"},
    {"Ironside Tools", "Lakeside", "555-0109"},
    {"Juniper Landscaping", "Oakdale", "555-0110"},
    {"Keystone Roofing", "Hillcrest", "555-0111"},
    {"Lindqvist Café", "Port Ellis", "555-0112"},
}};

struct Item {
  const char* code;
  const char* description;
  const char* price;
};

constexpr std::array<Item, 12> kItems{{
    {"BOLT-10", "Hex bolt M10 x 50", "0.45"},
    {"NUT-10", "Hex nut M10", "0.12"},
    {"WASH-10", "Flat washer M10", "0.05"},
    {"PIPE-15", "Copper pipe 15 mm, 3 m", "18.90"},
    {"ELB-15", "Copper elbow 15 mm", "1.75"},
    {"CAB-25", "Cable 2.5 mm², 100 m", "64.00"},
    {"SW-1G", "Light switch, one gang", "4.20"},
    {"PAINT-W", "Interior paint, white, 10 l", "39.50"},
    {"BRUSH-50", "Paint brush 50 mm", "3.10"},
    {"TAPE-50", "Masking tape 50 mm", "2.40"},
    {"GLUE-PVA", "Wood glue, 1 l", "7.80"},
    {"SAND-120", "Sandpaper P120, 10 sheets", "5.60"},
}};

}  // namespace

void fillDemo(Store& store, const std::string& companyId) {
  store.addCompany(companyId, "Velmora Demo Company");
  store.putUser(companyId, "demo", password::hashPassword("demo123"), 5);
  store.putUser(companyId, "clerk", password::hashPassword("clerk123"), 1);
  std::int32_t key = 1;
  for (const auto& c : kCustomers) {
    store.changeRow(companyId, "customers.xml", key++, {{"sName", c.name}, {"sCity", c.city}, {"sPhone", c.phone}});
  }
  key = 1;
  for (const auto& i : kItems) {
    store.changeRow(companyId, "items.xml", key++,
                    {{"sCode", i.code}, {"sDescription", i.description}, {"cPrice", i.price}});
  }
}

}  // namespace qmx::server
