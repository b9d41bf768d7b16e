#pragma once

#include "cli/Cli.h"
#include "record/ProvisioningRecord.h"

// --keep-days N of the commands that write a record for long (serve, pnp, batch): events older
// than N days are removed when the record is opened, but each phone's latest of each kind; 0
// keeps all.
inline constexpr int kCliKeepDaysDefault = 90;
CliOption CliKeepDaysOption();
// 0 when --keep-days is absent or a whole number of days (0 to 36500) given with --record; else
// one line on stderr and the exit code 1.
int CheckCliKeepDays(const CliArgs& args, const QString& command);

// The provisioning record of a command's --record FILE. A file that cannot be a record (or
// stops being writable) prints one line on stderr and the command goes on without recording.
// Make it after CliStopSignals: its writer thread must not take the stop signals.
class CliRecord {
  public:
    // prune: the command takes --keep-days (checked by CheckCliKeepDays), 90 unless given.
    enum class Pruning { None, KeepDays };
    explicit CliRecord(const CliArgs& args, Pruning pruning = Pruning::None);
    // The record to hand to the command's parts; null when none was asked for or it is off.
    ProvisioningRecord* get() { return record_.IsOn() ? &record_ : nullptr; }

  private:
    ProvisioningRecord record_;
};
