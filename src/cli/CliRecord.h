#pragma once

#include "cli/Cli.h"
#include "record/ProvisioningRecord.h"

// The provisioning record of a command's --record FILE. A file that cannot be a record (or
// stops being writable) prints one line on stderr and the command goes on without recording.
// Make it after CliStopSignals: its writer thread must not take the stop signals.
class CliRecord {
  public:
    explicit CliRecord(const CliArgs& args);
    // The record to hand to the command's parts; null when none was asked for or it is off.
    ProvisioningRecord* get() { return record_.IsOn() ? &record_ : nullptr; }

  private:
    ProvisioningRecord record_;
};
