#pragma once
// A parsed section cut into the data records the loaders take, whatever kind of file it came
// from: a record holds consecutive addresses up to its full size, and bytes that do not follow
// on open the next record. So a binary section goes in full records from its start, header
// included, and S-record lines are framed as they always were, carry included.
#include <cstddef>
#include <cstdint>

#include "image/ParsedImage.h"
#include "image/SfldRecord.h"

class SectionRecords {
  public:
    explicit SectionRecords(const ParsedSection& section) : section_(section) {}

    // The next data record; one with dataCount 0 means the section is done.
    void Next(SfldRecord& record);

  private:
    const ParsedSection& section_;
    size_t nextRun_ = 0;
    size_t runOffset_ = 0;
};
