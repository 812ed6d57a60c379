#pragma once
// The target types, one row each: everything the program knows of a type. The command line,
// its usage, the image check, the dialog and the upload sequences read the row; a new boot
// connection is a class behind BootConnection and a row here.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/TargetType.h"
#include "targets/BootConnection.h"

struct TargetRow {
    // No line speed of its own: the port stays as the request found it.
    static constexpr int32_t kKeepSpeed = -1;

    TargetType type;
    // What the usage and /check call the type; nullptr: the command line does not offer it.
    const char* name;
    // The name ends in the line speed, "(19200 baud)".
    bool nameGivesSpeed;
    // The boot connection's line speed, a speed code.
    int32_t speedCode;
    // Loads the flash loader into the device's memory and starts it; nullptr: the flash
    // loader runs already.
    MakeBootConnection boot;
    // The module resource that holds the type's flash loader; 0: none.
    uint16_t loaderResourceId;
    // The flash loader sends REC_WAIT_CODE after a record's lead byte.
    bool recordWait;
    // Loads an image and starts it for /run; nullptr: the type runs nothing.
    MakeBootConnection run;

    bool Boot() const { return boot != nullptr; }
    bool Offered() const { return name != nullptr; }
    unsigned Number() const { return static_cast<unsigned>(type); }
};

class TargetCatalogue {
  public:
    explicit TargetCatalogue(std::vector<TargetRow> rows) : rows_(std::move(rows)) {}

    const std::vector<TargetRow>& Rows() const { return rows_; }
    // The type's row; nullptr for a type without one.
    const TargetRow* Find(TargetType type) const;
    // The type's name as the user reads it; empty for a type the command line does not offer.
    std::string NameOf(TargetType type) const;
    // The module resource of the type's flash loader; 0: none.
    uint16_t LoaderResourceOf(TargetType type) const;
    // The lowest and highest number of the types offered on the command line, and of those
    // with a boot connection, as "1 to 7".
    std::string OfferedRange() const;
    std::string BootRange() const;

  private:
    std::string Range(bool (TargetRow::*has)() const) const;

    std::vector<TargetRow> rows_;
};

// The program's target types.
const TargetCatalogue& Targets();
