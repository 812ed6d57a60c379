#include <gtest/gtest.h>

#include "SectionBytes.h"
#include "image/ImageReaders.h"
#include "image/ImageSource.h"
#include "support/ProtocolFixture.h"
#include "targets/OrvaneConnection.h"
#include "targets/PflConnection.h"
#include "targets/RomMonitorConnection.h"

namespace {

constexpr uint16_t kResourceId = 500;

// Two records: 8 bytes at 0x201000 and, after a gap, 6 bytes at 0x201100.
const std::string kTwoRecords = S3Line(0x201000, {0x18, 0xF0, 0x9F, 0xE5, 0x00, 0x00, 0xA0, 0xE3}) +
                                S3Line(0x201100, {1, 2, 3, 4, 5, 6}) + S7Line(0x201000);

class SectionUploadTest : public ProtocolFixture {
  protected:
    void Load(const std::string& text) {
        resources.Register(ImageSource::kResourceType, kResourceId, Bytes(text));
        const auto parsed = ParseResource(kResourceId, resources);
        ASSERT_TRUE(parsed && !parsed->sections.empty());
        section = parsed->sections[0];
    }
    // Echo, prompt, test screen and a test prompt after every command.
    void AnswerLikeTheRomMonitor() {
        link.EchoAll();
        link.Answer("\r\n", ">", 5, 1);
        link.Answer("T\r", ":test>", 3);
        link.Answer("\r", ":test>", 3);
    }
    // Everything the host wrote from the first byte that begins with prefix.
    std::string SentFrom(const std::string& prefix) {
        const std::string sent = link.SentText();
        const size_t at = sent.find(prefix);
        return at == std::string::npos ? std::string() : sent.substr(at);
    }

    ResourceTable resources;
    ParsedSection section;
    std::vector<std::pair<uint32_t, uint16_t>> records;  // address, data count
    bool refuse = false;
    bool cancelAfterFirst = false;
    // The connection of that variant, its records taken here.
    PflConnection Pfl(PflConnection::Variant variant) {
        return PflConnection(
            context, variant,
            variant == PflConnection::Variant::A ? speedcode::k19200 : speedcode::k57600,
            [this](const SfldRecord& record) {
                records.emplace_back(record.address, record.dataCount);
                progressSeen.push_back(context.progress.Get());
                if (cancelAfterFirst) {
                    context.cancelRequest.Set(1);
                }
                return refuse ? Result::Failure(Result::Code::Refused, "ERROR: BAD_CSUM")
                              : Result();
            });
    }
    PflConnection pfl = Pfl(PflConnection::Variant::C);
};

TEST_F(SectionUploadTest, PflSendsEveryRecordAndEndsAtFullProgress) {
    Load(kTwoRecords);
    ASSERT_TRUE(pfl.PflUploadSection(section));
    progressSeen.push_back(context.progress.Get());
    const std::vector<std::pair<uint32_t, uint16_t>> expected = {{0x201000, 8}, {0x201100, 6}};
    EXPECT_EQ(records, expected);
    // The section runs from 0x201000 to 0x201106.
    EXPECT_EQ(section.size, 0x106u);
    EXPECT_EQ(progressSeen, (std::vector<uint16_t>{0, 31, 1000}));
}

TEST_F(SectionUploadTest, PflUploadEndings) {
    struct Case {
        const char* name;
        bool refuse;
        bool cancel;
        Result::Code code;
        std::string words;  // the failed step's
        size_t records;
    };
    const std::vector<Case> cases = {
        {"refused record", true, false, Result::Code::Refused, "ERROR: BAD_CSUM", 1},
        {"abort between records", false, true, Result::Code::Aborted, "", 1},
    };
    Load(kTwoRecords);
    for (const Case& c : cases) {
        records.clear();
        refuse = c.refuse;
        cancelAfterFirst = c.cancel;
        context.cancelRequest.Set(0);
        const Result uploaded = pfl.PflUploadSection(section);
        EXPECT_EQ(uploaded.code(), c.code) << c.name;
        EXPECT_EQ(uploaded.words(), c.words) << c.name;
        EXPECT_EQ(records.size(), c.records) << c.name;
        EXPECT_NE(context.progress.Get(), 1000) << c.name;
    }
}

TEST_F(SectionUploadTest, PflLoadAndRunConnectsUploadsRunsAndSendsTheEndRecord) {
    Load(kTwoRecords);
    link.Answer("U", "D", 1);
    link.Answer("E", "$PFL1\r", 1);
    ASSERT_TRUE(pfl.LoadAndRun(section));
    EXPECT_EQ(SentFrom("E"), "EDG201000#");
    const std::vector<std::pair<uint32_t, uint16_t>> expected = {
        {0x201000, 8}, {0x201100, 6}, {0, 0}};
    EXPECT_EQ(records, expected);
    EXPECT_EQ(context.statusText.Get(), "Complete");
    const std::vector<std::string> lines = {"*Load image*",
                                            "Target - Kalmer PFL",
                                            "> Try to connnect target",
                                            "Baud rate - 57600",
                                            "PFLD Version ID: $PFL1",
                                            "Kalmer PFL - connected",
                                            "Section upload is successful",
                                            "Run image at address 0x201000"};
    EXPECT_EQ(AllLogs(), lines);
}

TEST_F(SectionUploadTest, PflLoadAbortedBetweenRecordsIsNeitherRunNorComplete) {
    Load(kTwoRecords);
    link.Answer("U", "D", 1);
    link.Answer("E", "$PFL1\r", 1);
    cancelAfterFirst = true;
    EXPECT_FALSE(Pfl(PflConnection::Variant::B).LoadAndRun(section));
    EXPECT_EQ(SentFrom("E"), "ED");
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(context.statusText.Get(), "Upload data");
    EXPECT_EQ(AllLogs().back(), "Cancel...");
    EXPECT_TRUE(Logged("ERROR: section upload failed"));
}

TEST_F(SectionUploadTest, PflSectionWithoutDataStillRunsItsStart) {
    Load(S3Line(0x201000, {}) + S7Line(0x201000));
    link.Answer("U", "D", 1);
    link.Answer("E", "$P\n", 1);
    ASSERT_TRUE(Pfl(PflConnection::Variant::A).LoadAndRun(section));
    EXPECT_EQ(
        SentFrom("G"), "G" + [&] {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%X#", section.start);
            return std::string(hex);
        }());
    EXPECT_EQ(context.progress.Get(), 1000);
    EXPECT_EQ(records.size(), 1u);  // the end record only
}

TEST_F(SectionUploadTest, HestanLoadAbortedMidwaySendsNoStartCommand) {
    Load(kTwoRecords);
    AnswerLikeTheRomMonitor();
    clock.SetAdvanceHook([&](uint64_t) {
        if (!link.TimesOf("P 00201004").empty()) {
            context.cancelRequest.Set(1);
        }
    });
    RomMonitorConnection monitor(context, speedcode::k19200);
    EXPECT_FALSE(monitor.LoadAndRun(section));
    EXPECT_EQ(link.TimesOf("G ").size(), 0u);
    EXPECT_EQ(link.TimesOf("P 00201100").size(), 0u);
    EXPECT_NE(context.statusText.Get(), "Complete");
    EXPECT_TRUE(Logged("ERROR: section upload failed"));
    EXPECT_EQ(AllLogs().back(), "Cancel...");
}

TEST_F(SectionUploadTest, OrvaneLoadAbortedBetweenRecordsSendsNoRunCommand) {
    link.Answer("#V#", ">ORV\r\n>", 1);
    link.Answer("#", ">", 1);
    Load(kTwoRecords);
    clock.SetAdvanceHook([&](uint64_t) {
        if (!link.TimesOf("W201004").empty()) {
            context.cancelRequest.Set(1);
        }
    });
    OrvaneConnection orvane(context, OrvaneConnection::Variant::OnKalmer, speedcode::k57600);
    EXPECT_FALSE(orvane.LoadAndRun(section));
    EXPECT_EQ(link.TimesOf("G").size(), 0u);
    EXPECT_NE(context.statusText.Get(), "Complete");
    EXPECT_TRUE(Logged("ERROR: section upload failed"));
    EXPECT_EQ(AllLogs().back(), "Cancel...");
}

}  // namespace
