#pragma once

#include "Plan.h"

#include <ox/import/Import.h>

#include <string>

namespace ox::import {

/// Writes `plan` as a bank into `outDir`: under a temporary name first, checked
/// through the library's own search, then renamed into place (or packed into
/// an archive bank), replacing a bank of the same name. Throws ImportError; a
/// failure leaves nothing under the bank's final name.
BankReport writeBank(const BankPlan& plan, const std::string& outDir, bool archive);

} // namespace ox::import
