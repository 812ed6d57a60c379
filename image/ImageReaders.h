#pragma once
// One reader per kind of image file, each giving the parsed model. The binary section reader
// also reads the sections of an image-union file, at their fixed places.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/FileBytes.h"
#include "engine/Result.h"
#include "image/ImageSource.h"
#include "image/ParsedImage.h"
#include "image/ResourceTable.h"

class ImageReader {
  public:
    virtual ~ImageReader() = default;
    // Whether the bytes at offset begin as this kind's do.
    virtual bool Claims(ImageSource& source, uint32_t offset) const = 0;
    // The section at offset, as section `index` of its file. A failure says why in words;
    // section.fault keeps what it was, for the choice between kinds and the notes.
    virtual Result Read(ImageSource& source, uint32_t offset, int index,
                        ParsedSection& section) const = 0;
};

const ImageReader& BinaryReader();
const ImageReader& SRecordReader();
const ImageReader& ElfReader();
const ImageReader& IntelHexReader();

// The section at offset by whichever reader takes it. A damaged section is taken as raw bytes
// with its fault kept; false only when nothing can be read there.
bool ReadSection(ImageSource& source, uint32_t offset, int index, ParsedSection& section);

// The whole file: one section, or the sections of an image-union file. Also finds what is
// damaged: a section that the upload writes must be whole; what it never writes is read all the
// same and described in the notes.
std::shared_ptr<const ParsedImage> ParseImage(const std::shared_ptr<const FileBytes>& file);
// A module resource, parsed as a file is; nullptr when there is no such resource.
std::shared_ptr<const ParsedImage> ParseResource(uint16_t id, const ResourceLookup& resources);

// What is wrong with the section found at index, in words; empty when it is whole.
std::string DescribeSectionFault(int index, const SectionFault& fault);

// What the section is, in words: "main firmware", "primary flash loader" and so on.
const char* SectionKind(const ParsedSection& section);
