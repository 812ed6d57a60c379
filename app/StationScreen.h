#pragma once
// What the station shows. On a terminal: a table, one row a port (port, device, stage, bytes,
// rate, elapsed, and a failure's reason), and a summary line, redrawn in place. Otherwise a
// line for each stage a port reaches and each tenth of its programming, prefixed with its
// port, so that the output of a station reads as a plain log.
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "app/Station.h"

class StationScreen {
  public:
    static constexpr size_t kTableWidth = 118;

    StationScreen(std::ostream& out, bool terminal, bool repeat)
        : out_(out), terminal_(terminal), repeat_(repeat) {}

    // The front end calls it at most 10 times a second.
    void Update(const std::vector<PortRow>& rows);
    // Once every port has ended: the last state and the summary; on a terminal, below the
    // table, the full line of every port that failed or was stopped.
    void Finish(const std::vector<PortRow>& rows);

    // "done 3, failed 1, running 0"; with repeat, the updates a port has served.
    std::string Summary(const std::vector<PortRow>& rows) const;
    // The row as a line of the log: "PORT: programming 40%, 26214 of 65536 bytes, 11.2 kB/s".
    static std::string Line(const PortRow& row);
    // The stage as the table shows it: "programming 40%".
    static std::string StageText(const PortRow& row);

  private:
    void Draw(const std::vector<PortRow>& rows);
    void PrintChanges(const std::vector<PortRow>& rows);

    std::ostream& out_;
    const bool terminal_;
    const bool repeat_;
    size_t drawnLines_ = 0;
    // What each port's last printed line said, by stage and tenth.
    std::map<std::string, std::string> printed_;
};
