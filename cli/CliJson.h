#pragma once
// The terminal program's machine-readable output (--json) and its history printing
// (--history): what --list, an update run and the history look like as JSON.

#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/DeviceChoice.h"
#include "history/RunHistory.h"
#include "history/RunRecord.h"

namespace tarvex {

// --list --json: one JSON array of {kind, vendor, product, node, serial}, the fields of --list.
std::string DevicesJson(const std::vector<UpdatableDevice>& devices);

// --json at the end of an update run: the run's record (outcome, reason, device, image,
// versions...) and "exit_status". A run that never started has no record: then "outcome" is
// "not started" and "reason" what the program said on standard error.
std::string UpdateRunJson(const std::optional<RunRecord>& record, int exitStatus,
                          const std::string& reasonWithoutRun);

// --history [--json]: the records oldest first, one readable line each or as one JSON array;
// a note on `err` for each damaged line. Returns the exit status: 1 when the history exists but
// cannot be read.
int PrintHistory(const CRunHistory* history, bool json, std::ostream& out, std::ostream& err);

// A stream buffer that passes everything on to another and remembers the last line written
// (without its line break), for --json to tell why a run did not start. Writers on several
// threads are serialised.
class CLastLineBuffer final : public std::streambuf {
public:
    explicit CLastLineBuffer(std::streambuf* inner) : m_pInner(inner) {}
    std::string LastLine() const;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    void Note(char c);

    std::streambuf* m_pInner;
    mutable std::mutex m_Lock;  // guards the two lines
    std::string m_Line;
    std::string m_LastLine;
};

}  // namespace tarvex
