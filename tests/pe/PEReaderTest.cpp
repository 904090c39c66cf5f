// The window on a stream that updaters' payloads are read through, and the
// manifest scan behind zlbtool info.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "ImageFacts.h"
#include "RangeStream.h"

using namespace kv;

TEST(RangeStream, ReadsSeeksAndSizesRelativeToItsWindow) {
  const std::string Bytes = "0123456789";
  auto Base = std::make_unique<TReadOnlyMemoryStream>(Bytes.data(), int64_t(Bytes.size()));
  TReadOnlyMemoryStream* Shared = Base.get();
  TRangeStream Window(std::move(Base), 3, 4);
  char Buf[16] = {};
  EXPECT_EQ(Window.GetSize(), 4);
  EXPECT_EQ(Window.Read(Buf, 16), 4) << "a read stops at the window's end";
  EXPECT_EQ(std::string(Buf, 4), "3456");
  EXPECT_EQ(Window.Read(Buf, 16), 0);
  // Whoever else moves the base (a shared file position) does not matter.
  EXPECT_EQ(Window.Seek(-3, TSeekOrigin::soEnd), 1);
  Shared->Seek(0, TSeekOrigin::soBeginning);
  EXPECT_EQ(Window.Read(Buf, 2), 2);
  EXPECT_EQ(std::string(Buf, 2), "45");
  EXPECT_EQ(Window.Seek(-4, TSeekOrigin::soCurrent), -1) << "no seek before the window";
  EXPECT_EQ(Window.GetPosition(), 3);
  EXPECT_EQ(Window.Seek(10, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(Window.Read(Buf, 1), 0) << "beyond the end reads nothing";
  EXPECT_EQ(Window.Write("x", 1), 0);

  // A window reaching past its base delivers what the base has.
  TRangeStream Tail(std::make_unique<TReadOnlyMemoryStream>(Bytes.data(), int64_t(Bytes.size())), 8,
                    5);
  EXPECT_EQ(Tail.Read(Buf, 16), 2);
  EXPECT_EQ(Tail.Read(Buf, 16), 0);
}

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
