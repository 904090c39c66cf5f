// TZLBArchive as a component: published properties in order with their
// defaults, access by name, the progress stages and percentage rounding.
#include <gtest/gtest.h>

#include <any>
#include <memory>

#include "ArchiveFixture.h"

using namespace kv;
using kvtest::MessageOf;

TEST(ArchiveComponent, PublishedPropertiesInOrderWithTheirDefaults) {
  const TZLBArchive Archive;
  std::vector<std::string> Rows;
  for (const TPropInfo& P : Archive.PublishedProperties())
    Rows.push_back(std::string(P.Name) + ":" + std::string(P.TypeName) + "=" + P.Get(Archive));
  EXPECT_EQ(Rows, (std::vector<std::string>{
                      "CompressionLevel:TFileCompressionLevel=fcDefault",
                      "ExtractWithPath:Boolean=False",
                      "CheckCRC:Boolean=False",
                      "SavePaths:Boolean=False",
                      "RecursePaths:Boolean=False",
                      "OnReplaceFile:TReplaceFileEvent=",
                      "OnFileExtracted:TFileExtractedEvent=",
                      "OnArchiveOpened:TNotifyEvent=",
                      "OnStreamExtracted:TFileExtractedEvent=",
                      "OnErrorLogged:TErrorLogEvent=",
                      "OnProgress:TProgressEvent=",
                  }));
  for (const TPropInfo& P : Archive.PublishedProperties())
    if (P.Kind != TTypeKind::tkMethod) {
      EXPECT_EQ(P.Get(Archive), P.Default) << P.Name;
    }
}

TEST(ArchiveComponent, PropertiesAreSetAndReadByName) {
  TZLBArchive Archive;
  SetPropValue(Archive, "checkcrc", "True");
  EXPECT_TRUE(Archive.GetCheckCRC());
  SetPropValue(Archive, "CompressionLevel", "fcMaximum");
  EXPECT_EQ(Archive.GetCompressionLevel(), TFileCompressionLevel::fcMaximum);
  EXPECT_EQ(GetPropValue(Archive, "CompressionLevel"), "fcMaximum");
  Archive.SetRecursePaths(true);
  EXPECT_EQ(GetPropValue(Archive, "RecursePaths"), "True");

  EXPECT_EQ(MessageOf([&] { SetPropValue(Archive, "CheckCRC", "maybe"); }),
            "Invalid property value");
  EXPECT_EQ(MessageOf([&] { SetPropValue(Archive, "CompressionLevel", "fcBest"); }),
            "Invalid property value");
  EXPECT_EQ(MessageOf([&] { SetPropValue(Archive, "CompressionLevel", "7"); }),
            "Invalid property value");
  EXPECT_EQ(MessageOf([&] { GetPropValue(Archive, "Password"); }),
            "Property Password does not exist");
}

namespace {
// An owner that publishes one method fitting TProgressEvent.
class TOwnerWithHandler : public TComponent {
 public:
  TOwnerWithHandler() : TComponent(nullptr) {}
  std::any MethodAddress(std::string_view Name) override {
    if (Name == "ArchiveProgress")
      return TProgressEvent([this](std::string Msg, int32_t) { Seen.push_back(Msg); });
    if (Name == "Clicked") return TNotifyEvent([](TObject*) {});
    return {};
  }
  std::vector<std::string> Seen;
};
}  // namespace

TEST(ArchiveComponent, EventsAreBoundByMethodNameAndTypeChecked) {
  TOwnerWithHandler Owner;
  TZLBArchive Archive(&Owner);
  EXPECT_EQ(Archive.GetOwner(), &Owner);
  EXPECT_EQ(Owner.ComponentCount(), 1);
  SetPropValue(Archive, "OnProgress", "ArchiveProgress", &Owner);
  EXPECT_EQ(GetPropValue(Archive, "OnProgress"), "(assigned)");
  Archive.CloseArchive();
  EXPECT_EQ(Owner.Seen, std::vector<std::string>{""});
  EXPECT_EQ(MessageOf([&] { SetPropValue(Archive, "OnProgress", "Clicked", &Owner); }),
            "Invalid property value")
      << "a method of another event type";
  EXPECT_EQ(MessageOf([&] { SetPropValue(Archive, "OnProgress", "Nothing", &Owner); }),
            "Invalid property value");
  SetPropValue(Archive, "OnProgress", "", &Owner);
  EXPECT_FALSE(Archive.GetOnProgress());
}

namespace {
// Notes its name in Log when it goes.
template <class TBase>
class TLogged : public TBase {
 public:
  TLogged(TComponent* AOwner, std::string Name, std::vector<std::string>& Log)
      : TBase(AOwner), FLog(Log) {
    this->SetName(std::move(Name));
  }
  ~TLogged() override { FLog.push_back(this->GetName()); }

 private:
  std::vector<std::string>& FLog;
};
}  // namespace

TEST(ArchiveComponent, AnOwnerFreesWhatItHoldsLastInsertedFirst) {
  kvtest::TTempDir Dir;
  const std::string Name = Dir / "a.zlb";
  kvtest::WriteAll(Name, kvtest::BuildArchive({{"a", {}}}));
  std::vector<std::string> Log;
  TReports Reports;
  std::unique_ptr<TLogged<TComponent>> Outliving;
  {
    TComponent Owner(nullptr);
    Owner.InsertComponent(std::make_unique<TLogged<TComponent>>(&Owner, "first", Log));
    auto& Archive =
        Owner.InsertComponent(std::make_unique<TLogged<TZLBArchive>>(&Owner, "archive", Log));
    Archive.SetOnProgress([&](std::string M, int32_t P) { Reports.emplace_back(M, P); });
    ASSERT_TRUE(Archive.OpenArchive(Name));
    {
      TLogged<TComponent> Early(&Owner, "early", Log);
      EXPECT_EQ(Owner.ComponentCount(), 3);
    }
    EXPECT_EQ(Owner.ComponentCount(), 2) << "gone before its owner, it took itself off";
    Outliving = std::make_unique<TLogged<TComponent>>(&Owner, "outliving", Log);
    auto& Last = Owner.InsertComponent(std::make_unique<TLogged<TComponent>>(nullptr, "last", Log));
    EXPECT_EQ(Last.GetOwner(), &Owner) << "taken in by its new owner";
    EXPECT_EQ(Owner.Components(3), &Last);
    Reports.clear();
  }
  EXPECT_EQ(Log, (std::vector<std::string>{"early", "last", "archive", "first"}));
  EXPECT_TRUE(Reports.empty()) << "the archive reported nothing while it was destroyed";
  EXPECT_EQ(Outliving->GetOwner(), nullptr) << "not handed over: only detached";
}

TEST(ArchiveComponent, PercentagesRoundHalfToEven) {
  EXPECT_EQ(ProgressPercentage(1, 8), 12);   // 12.5
  EXPECT_EQ(ProgressPercentage(3, 8), 38);   // 37.5
  EXPECT_EQ(ProgressPercentage(1, 200), 0);  // 0.5
  EXPECT_EQ(ProgressPercentage(3, 200), 2);  // 1.5
  EXPECT_EQ(ProgressPercentage(4096, 5320), 77);
  EXPECT_EQ(ProgressPercentage(4096, 10000), 41);
  EXPECT_EQ(ProgressPercentage(8192, 10000), 82);
  EXPECT_EQ(ProgressPercentage(10000, 10000), 100);
  EXPECT_EQ(ProgressPercentage(2, 3), 67);
  EXPECT_EQ(ProgressPercentage(0, 0), 0);
}

namespace {
// A descendant that drives the stages no operation enters, and reads the
// CRC table.
class TStageArchive : public TZLBArchive {
 public:
  using TZLBArchive::CRCTable;
  using TZLBArchive::SetProgress;
};
}  // namespace

TEST(ArchiveComponent, EveryProgressStageReportsWhatItShould) {
  TStageArchive Archive;
  TReports Reports;
  Archive.SetOnProgress([&](std::string M, int32_t P) { Reports.emplace_back(M, P); });
  const kvtest::TBytes Data(400);
  TReadOnlyMemoryStream Source(Data.data(), 400);
  Source.SetPosition(100);
  for (uint8_t Stage = 0; Stage <= uint8_t(TProgressStage::psArchiveName); ++Stage) {
    Archive.SetProgress(TProgressStage(Stage), 3, 8, "msg");
    Archive.DoProgress(&Source);
  }
  EXPECT_EQ(Reports, (TReports{{"msg", 38},    // psDirectory: done / total
                               {"msg", 38},    // psExtract
                               {"msg", 1250},  // psPosition: the source's position / total
                               {"msg", 1250},  // psPositionToo
                               {"msg", 38},    // psCount
                               {"", 0}}));     // psArchiveName: the archive's name
}

TEST(ArchiveComponent, BuildsTheStandardCRCTable) {
  TCRCTable Standard;
  FillCRCTable(Standard);
  EXPECT_EQ(TStageArchive().CRCTable(), Standard);
}
