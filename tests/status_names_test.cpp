// Every status code the public header defines has its own name and a meaning.
#include <kip/kip.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <string>

TEST(StatusNames, EveryCodeOfTheHeaderIsNamed) {
  std::ifstream header(KIP_HEADER_PATH);
  ASSERT_TRUE(header.good());
  const std::regex define(R"(#define (KIP_ERR_[A-Z0-9_]+) \(\(int32_t\)(0x[0-9A-Fa-f]+)\))");
  std::set<std::string> names;
  int codes = 0;
  for (std::string line; std::getline(header, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, define)) continue;
    const auto status = static_cast<int32_t>(std::stoul(match[2].str(), nullptr, 16));
    EXPECT_EQ(kip_statusName(status), match[1].str());
    EXPECT_GT(std::strlen(kip_statusMessage(status)), 5u) << match[1].str();
    names.insert(match[1].str());
    ++codes;
  }
  EXPECT_GE(codes, 20);
  EXPECT_EQ(names.size(), static_cast<size_t>(codes));
  EXPECT_STREQ(kip_statusName(0), "KIP_OK");
  EXPECT_STREQ(kip_statusName(static_cast<int32_t>(0x80001234)), "KIP_ERR_UNKNOWN");
}
