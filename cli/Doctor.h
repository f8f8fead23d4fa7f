// valdrune-cli doctor: why a search finds nothing, check by check, with the fix.
#pragma once

#include <ostream>
#include <string>

#include "cli/RecordView.h"
#include "protocol/NetworkDoctor.h"
#include "protocol/Seams.h"

namespace valdrune::cli {

struct DoctorText {
    std::string evidence;  // what was found, one sentence
    std::string fix;       // what to do, one line; empty when nothing is to be done
};

// The English texts of one result (its command, if any, ends the fix line).
DoctorText DoctorTexts(const DoctorResult& result);

const char* CheckName(DoctorCheck check);
const char* VerdictName(Verdict verdict);

// Judges the adapter `adapter` names (empty: the one a search would use) and prints every
// check. Exit status 0 unless a check found a problem.
int RunDoctor(IHostNetwork& host, INetworkSurvey& survey, const std::string& adapter,
              Format format, std::ostream& out, std::ostream& err);

}  // namespace valdrune::cli
