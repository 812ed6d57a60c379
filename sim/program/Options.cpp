#include "sim/program/Options.h"

#include <getopt.h>
#include <grp.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <type_traits>
#include <utility>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/SimText.h"

const char* const kSimUsage =
    R"(Usage: ostrevan-sim --link PATH [options]

A simulated Ostrevan device on a pseudo-terminal. The pseudo-terminal is published as the
symlink PATH; when the device re-appears after the greeting, the link is moved to a fresh
pseudo-terminal in one rename and the old one is closed, as a device that leaves.
SIGTERM and SIGINT end it (the flash is dumped first when --dump is given); SIGUSR1 dumps
the flash at once. At exit it prints its counters and its violation log on standard error:
the log lists every byte a real device would not have accepted.

Device:
  --link PATH             the symlink to publish (required)
  --start MODE            greeting (default), loader, pfl, rom or monitor
  --pfl-variant V         A, B or C (default C): handshake of the primary flash loader
  --load-address ADDR     starting code here starts the flash loader (default 0x201000)
  --reappear-ms MS        from the greeting's last answer to the new port (default 100)
  --sfld-version TEXT     the flash loader's version line (default "$SFLD V2.05")
  --pfl-version TEXT      the primary flash loader's version line (default "$KALMER PFL 1.3")
  --monitor-id TEXT       the text monitor's identification (default "OM21")
  --monitor-reply-ms MS   the text monitor's delay before its identification (default 0)
  --greeting TEXT         the answer to SA-28 (default "SA-77 OSTREVAN KV3 4.10")
  --sfld-baud BAUD        the speed of a flash loader started directly (default 19200)
  --flash-id ANSWER       full (default), short:N (one type byte N) or silent
  --boot-reload ANSWER    accept (default), refuse or silent
  --no-rec-wait           no REC_WAIT_CODE after a record's lead byte
  --pfl-rec-wait          the primary flash loader sends REC_WAIT_CODE after a lead byte
  --program-ms MS         time to program one record (default 2)
  --record-timeout-ms MS  silence inside a record that ends it (default 500)
  --no-speed-check        take bytes whatever speed the host's side is set to

Flash chip:
  --chip-mfg CODE         JEDEC manufacturer code (default 0x01)
  --chip-id ID            device id (default 0x2249)
  --chip-size SIZE        bytes, K or M suffix allowed (default 2M)
  --sectors LAYOUT        sector sizes from the bottom, e.g. 1x16K,2x8K,1x32K,31x64K
                          (the default); uniform --sector-size sectors fill the rest
  --sector-size SIZE      uniform sector size (default 64K)
  --flash-base ADDR       where the chip sits (default 0x10000000)
  --no-cfi                report no Common Flash Interface

Line:
  --rate BAUD|auto|off    throttle reading and writing to BAUD, to the speed the host set
                          (auto, the default), or not at all
  --node-mode MODE        give each published pseudo-terminal's node these permissions (octal)
  --node-group GROUP      and this group (a name or a number), as a udev rule would
  --node-late-ms MS       a re-appeared port's node keeps mode 0600 this long before it gets
                          --node-mode, as a node whose group udev sets a moment late

Faults:
  --drop-reply N          the Nth answer (from 1) never leaves the device
  --error-record N        answer the Nth record frame (from 1) with --error-code
  --error-code CODE       BAD_CSUM (default), BAD_LENGTH, BAD_COMMAND, PROGRAM_FAIL,
                          RECORD_TIMEOUT, NO_REC_END, FLASH_FULL_CODE or a number
  --error-count K         and the K-1 records after it too (default 1)
  --program-fail-ok       a record the flash did not take: PROGRAM_FAIL, then OK_CODE
  --program-fail-early    PROGRAM_FAIL in a data record's answer, before it is taken
  --program-fail-start    a section's start answered with PROGRAM_FAIL, then OK_CODE
  --erase-ms MS           erase time per sector (default 20)
  --no-param              no PARAM_CODE message with the sector count
  --noise RATE            chance per byte, both ways, that it arrives changed (0 to 1)
  --noise-seed N          seed of the noise (default 1)
  --unplug-after N        the device leaves after N bytes from the host
  --unplug-in-erase N     the device leaves once it has erased N sectors
  --silent                take everything, answer nothing

Output:
  --dump FILE             write the flash (chip-size bytes from the base) at exit and on
                          SIGUSR1
  --dump-ram FILE         write every memory byte loaded, "ADDRESS BYTE" in hex a line, at
                          exit and on SIGUSR1
  --transcript FILE       write the dialogue to FILE as it happens ("-": standard error)
  --help                  this text
)";

namespace {

bool Number(const std::string& text, uint64_t& value) {
    return ParseSize(text, value);
}

bool ErrorCode(const std::string& text, uint8_t& code) {
    static const std::map<std::string, uint8_t> names = {
        {"BAD_CSUM", SimCodes::BAD_CSUM},
        {"BAD_LENGTH", SimCodes::BAD_LENGTH},
        {"BAD_COMMAND", SimCodes::BAD_COMMAND},
        {"PROGRAM_FAIL", SimCodes::PROGRAM_FAIL},
        {"RECORD_TIMEOUT", SimCodes::RECORD_TIMEOUT},
        {"NO_REC_END", SimCodes::NO_REC_END},
        {"FLASH_FULL_CODE", SimCodes::FLASH_FULL_CODE}};
    const auto it = names.find(text);
    if (it != names.end()) {
        code = it->second;
        return true;
    }
    uint64_t value;
    if (!Number(text, value) || value > 0xFF) {
        return false;
    }
    code = static_cast<uint8_t>(value);
    return true;
}

}  // namespace

bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error) {
    DeviceConfig& d = options.device;
    d.start = Personality::Greeting;
    FaultSwitches& f = d.faults;
    // Switches without a value.
    const std::map<std::string, std::function<void()>> flags = {
        {"--help", [&] { options.help = true; }},
        {"--no-rec-wait", [&] { d.recWait = false; }},
        {"--pfl-rec-wait", [&] { d.pflRecWait = true; }},
        {"--no-speed-check", [&] { d.checkSpeed = false; }},
        {"--no-cfi", [&] { d.chip.cfi = 0; }},
        {"--no-param", [&] { f.noParameter = true; }},
        {"--silent", [&] { f.silent = true; }},
        {"--program-fail-ok", [&] { f.programFailThenOk = true; }},
        {"--program-fail-early", [&] { f.programFailEarly = true; }},
        {"--program-fail-start", [&] { f.programFailAtStart = true; }},
    };
    // Switches with a value; each returns false when the value is not good.
    using Setter = std::function<bool(const std::string&)>;
    auto number = [](auto& field, uint64_t limit) -> Setter {
        return [&field, limit](const std::string& v) {
            uint64_t n;
            if (!Number(v, n) || n > limit) {
                return false;
            }
            field = static_cast<std::remove_reference_t<decltype(field)>>(n);
            return true;
        };
    };
    auto text = [](std::string& field) -> Setter {
        return [&field](const std::string& v) {
            field = v;
            return true;
        };
    };
    const std::map<std::string, Setter> values = {
        {"--link",
         [&](const std::string& v) {
             options.link = v;
             return !v.empty();
         }},
        {"--start",
         [&](const std::string& v) {
             static const std::map<std::string, Personality> modes = {
                 {"greeting", Personality::Greeting},
                 {"loader", Personality::FlashLoader},
                 {"pfl", Personality::PrimaryFlashLoader},
                 {"rom", Personality::RomMonitor},
                 {"monitor", Personality::TextMonitor}};
             const auto it = modes.find(v);
             if (it == modes.end()) {
                 return false;
             }
             d.start = it->second;
             return true;
         }},
        {"--pfl-variant",
         [&](const std::string& v) {
             if (v != "A" && v != "B" && v != "C") {
                 return false;
             }
             d.pflVariant = v == "A" ? PflVariant::A : v == "B" ? PflVariant::B : PflVariant::C;
             return true;
         }},
        {"--load-address", number(d.loaderAddress, 0xFFFFFFFF)},
        {"--reappear-ms", number(d.reappearMs, 3600000)},
        {"--sfld-version", text(d.sfldVersion)},
        {"--pfl-version", text(d.pflVersion)},
        {"--monitor-id", text(d.monitorId)},
        {"--monitor-reply-ms", number(d.monitorReplyMs, 60000)},
        {"--greeting",
         [&](const std::string& v) {
             d.greetingReply = v;
             return v.compare(0, 5, "SA-77") == 0;
         }},
        {"--sfld-baud",
         [&](const std::string& v) {
             uint64_t baud;
             if (!Number(v, baud) || DeviceModel::CodeOfBaud(static_cast<uint32_t>(baud)) < 0) {
                 return false;
             }
             d.sfldSpeed = DeviceModel::CodeOfBaud(static_cast<uint32_t>(baud));
             return true;
         }},
        {"--flash-id",
         [&](const std::string& v) {
             uint64_t n;
             if (v == "full" || v == "silent") {
                 d.flashId = v == "full" ? FlashIdAnswer::Full : FlashIdAnswer::Silent;
                 return true;
             }
             if (v.compare(0, 6, "short:") != 0 || !Number(v.substr(6), n) || n > 0xFF) {
                 return false;
             }
             d.flashId = FlashIdAnswer::Short;
             d.shortFlashId = static_cast<uint8_t>(n);
             return true;
         }},
        {"--boot-reload",
         [&](const std::string& v) {
             static const std::map<std::string, BootReloadAnswer> answers = {
                 {"accept", BootReloadAnswer::Accept},
                 {"refuse", BootReloadAnswer::Refuse},
                 {"silent", BootReloadAnswer::Silent}};
             const auto it = answers.find(v);
             if (it == answers.end()) {
                 return false;
             }
             d.bootReload = it->second;
             return true;
         }},
        {"--program-ms", number(d.programMs, 60000)},
        {"--record-timeout-ms", number(d.recordTimeoutMs, 600000)},
        {"--chip-mfg", number(d.chip.manufacturer, 0xFF)},
        {"--chip-id", number(d.chip.deviceId, 0xFFFF)},
        {"--chip-size", number(d.chip.size, 0x10000000)},
        {"--sectors", [&](const std::string& v) { return ParseSectorLayout(v, d.chip.sectors); }},
        {"--sector-size",
         [&](const std::string& v) {
             uint64_t n;
             if (!Number(v, n) || n == 0 || n > 0x40000000) {
                 return false;
             }
             d.chip.sectorSize = static_cast<uint32_t>(n);
             d.chip.sectors.clear();
             return true;
         }},
        {"--flash-base", number(d.chip.base, 0xFFFFFFFF)},
        {"--rate",
         [&](const std::string& v) {
             uint64_t n;
             if (v == "auto" || v == "off") {
                 options.rate = v == "auto" ? 0 : -1;
                 return true;
             }
             if (!Number(v, n) || n == 0 || n > 4000000) {
                 return false;
             }
             options.rate = static_cast<int64_t>(n);
             return true;
         }},
        {"--node-mode",
         [&](const std::string& v) {
             char* end = nullptr;
             const unsigned long mode = std::strtoul(v.c_str(), &end, 8);
             options.nodeMode = static_cast<int>(mode);
             return !v.empty() && *end == '\0' && mode <= 07777;
         }},
        {"--node-late-ms", number(options.nodeLateMs, 60000)},
        {"--node-group",
         [&](const std::string& v) {
             uint64_t n;
             if (Number(v, n) && n < 0x7FFFFFFF) {
                 options.nodeGroup = static_cast<int>(n);
                 return true;
             }
             const group* named = getgrnam(v.c_str());
             options.nodeGroup = named != nullptr ? static_cast<int>(named->gr_gid) : -1;
             return named != nullptr;
         }},
        {"--drop-reply", number(f.dropReply, 0xFFFFFFFF)},
        {"--error-record", number(f.errorRecord, 0xFFFFFFFF)},
        {"--error-code", [&](const std::string& v) { return ErrorCode(v, f.errorCode); }},
        {"--error-count", number(f.errorCount, 0xFFFFFFFF)},
        {"--erase-ms", number(f.eraseMsPerSector, 600000)},
        {"--noise",
         [&](const std::string& v) {
             char* end = nullptr;
             f.noiseRate = std::strtod(v.c_str(), &end);
             return !v.empty() && *end == '\0' && f.noiseRate >= 0 && f.noiseRate <= 1;
         }},
        {"--noise-seed", number(f.noiseSeed, 0xFFFFFFFF)},
        {"--unplug-after", number(f.unplugAfter, UINT64_MAX)},
        {"--unplug-in-erase", number(f.unplugInErase, 0xFFFFFFFF)},
        {"--dump",
         [&](const std::string& v) {
             options.dumpPath = v;
             return !v.empty();
         }},
        {"--dump-ram",
         [&](const std::string& v) {
             options.ramDumpPath = v;
             return !v.empty();
         }},
        {"--transcript",
         [&](const std::string& v) {
             options.transcriptPath = v;
             return !v.empty();
         }},
    };
    // getopt_long's table: each switch's value is its place in handlers, past the codes that
    // getopt_long returns for its own findings.
    constexpr int kFirstSwitch = 256;
    std::vector<option> table;
    std::vector<std::pair<std::string, Setter>> handlers;
    for (const auto& [name, set] : flags) {
        handlers.emplace_back(name, [set = set](const std::string&) {
            set();
            return true;
        });
        table.push_back({name.c_str() + 2, no_argument, nullptr,
                         kFirstSwitch + static_cast<int>(handlers.size()) - 1});
    }
    for (const auto& [name, set] : values) {
        handlers.emplace_back(name, set);
        table.push_back({name.c_str() + 2, required_argument, nullptr,
                         kFirstSwitch + static_cast<int>(handlers.size()) - 1});
    }
    table.push_back({nullptr, 0, nullptr, 0});
    // Our own messages; "+" stops at the first word that is no switch, which is an error here;
    // ":" tells a missing value from an unknown switch. optind 0 starts a fresh parse.
    opterr = 0;
    optind = 0;
    for (;;) {
        const int got = getopt_long(argc, argv, "+:", table.data(), nullptr);
        if (got == -1) {
            break;
        }
        if (got == ':') {
            error = std::string(argv[optind - 1]) + " needs a value";
            return false;
        }
        if (got < kFirstSwitch) {
            // A single letter is named by optopt: "-xy" leaves optind on its word.
            const bool letter = optopt > 0 && optopt < kFirstSwitch;
            error = "unknown switch " + (letter ? std::string{'-', static_cast<char>(optopt)}
                                                : std::string(argv[optind - 1]));
            return false;
        }
        const auto& [name, set] = handlers[static_cast<size_t>(got - kFirstSwitch)];
        if (!set(optarg ? optarg : "")) {
            error = "bad value for " + name + ": " + optarg;
            return false;
        }
    }
    if (optind < argc) {
        error = "unknown switch " + std::string(argv[optind]);
        return false;
    }
    if (!options.help && options.link.empty()) {
        error = "--link PATH is required";
        return false;
    }
    return true;
}
