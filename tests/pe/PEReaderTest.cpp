// The manifest scan behind zlbtool info.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "ImageFacts.h"

using namespace kv;

TEST(RequestedExecutionLevel, IsFoundWhateverTheQuotesOrderPrefixOrComments) {
  struct TCase {
    const char* Name;
    std::string Xml;
    std::optional<std::string> Level;
  };
  const TCase Cases[] = {
      {.Name = "double quotes",
       .Xml = R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)",
       .Level = "requireAdministrator"},
      {.Name = "single quotes, level last, blanks around =",
       .Xml = "<requestedExecutionLevel uiAccess='false'\n   level = 'asInvoker' />",
       .Level = "asInvoker"},
      {.Name = "namespace prefix, closing tag",
       .Xml =
           R"(<ms:requestedExecutionLevel ms:level="highestAvailable"></ms:requestedExecutionLevel>)",
       .Level = "highestAvailable"},
      {.Name = "a quoted > before level",
       .Xml = R"(<requestedExecutionLevel note="a>b" level="asInvoker"/>)",
       .Level = "asInvoker"},
      {.Name = "commented out before the real one",
       .Xml = "<!-- <requestedExecutionLevel level=\"asInvoker\"/> -->"
              "<requestedExecutionLevel level=\"requireAdministrator\"/>",
       .Level = "requireAdministrator"},
      {.Name = "a level attribute of another element",
       .Xml = R"(<other level="asInvoker"/><requestedExecutionLevelX level="x"/>)",
       .Level = std::nullopt},
      {.Name = "inside CDATA only",
       .Xml = R"(<![CDATA[<requestedExecutionLevel level="asInvoker"/>]]>)",
       .Level = std::nullopt},
      {.Name = "unterminated value",
       .Xml = R"(<requestedExecutionLevel level="asInvoker)",
       .Level = std::nullopt},
      {.Name = "unterminated comment",
       .Xml = "<!-- <requestedExecutionLevel",
       .Level = std::nullopt},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(pe::RequestedExecutionLevel(Case.Xml), Case.Level) << Case.Name;
}
