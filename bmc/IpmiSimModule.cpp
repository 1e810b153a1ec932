// The module ipmi_sim loads (`loadlib "roster_bmc.so" "OPTIONS"`): registers the inventory,
// SATA_INFO and read-back commands and passes each request to the core. ipmi_sim runs every
// handler on its one event thread, so the core needs no lock.
// OpenIPMI's headers declare C functions without saying so.
extern "C" {
#include <OpenIPMI/lanserv.h>
#include <OpenIPMI/mcserv.h>
#include <OpenIPMI/msg.h>
}

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/InventoryBmc.h"
#include <BmcInventorySummary.h>
#include <InventoryLayout.h>

namespace {

struct Module {
  RosterBmc::StateStore Store;
  std::unique_ptr<RosterBmc::InventoryBmc> Bmc;
};

// Lives as long as ipmi_sim: handlers may run until the process ends.
Module *gModule = nullptr;

void HandleCommand(lmc_data_t *, msg_t *Message, unsigned char *ResponseData, unsigned int *ResponseLength,
                   void *Context) {
  auto *Self = static_cast<Module *>(Context);
  RosterBmc::Bytes Response =
      Self->Bmc->Handle(Message->netfn, Message->cmd, RosterBmc::ByteView(Message->data, Message->len));
  if (*ResponseLength < 1) {
    return;
  }
  if (Response.size() > *ResponseLength) {
    Response.assign(1, 0xFF);  // no room for the answer: unspecified error
  }
  std::memcpy(ResponseData, Response.data(), Response.size());
  *ResponseLength = static_cast<unsigned int>(Response.size());
}

std::vector<std::string> OwnCommandLine() {
  std::ifstream In("/proc/self/cmdline", std::ios::binary);
  std::string All((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  std::vector<std::string> Arguments;
  size_t Start = 0;
  while (Start < All.size()) {
    size_t End = All.find('\0', Start);
    if (End == std::string::npos) {
      End = All.size();
    }
    Arguments.push_back(All.substr(Start, End - Start));
    Start = End + 1;
  }
  return Arguments;
}

uint16_t RandomSessionSeed() {
  uint16_t Seed = 0;
  if (getrandom(&Seed, sizeof(Seed), 0) != sizeof(Seed)) {
    Seed = static_cast<uint16_t>(time(nullptr) ^ getpid());
  }
  return Seed;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int ipmi_sim_module_init(sys_data_t *Sys, const char *Options) {
  RosterBmc::BmcOptions Parsed;
  std::string Error;
  if (!RosterBmc::ParseOptions(Options != nullptr ? Options : "", Parsed, Error)) {
    Sys->log(Sys, SETUP_ERROR, nullptr, "roster_bmc: %s", Error.c_str());
    return EINVAL;
  }
  if (Parsed.StateDir.empty()) {
    auto SimStateDir = RosterBmc::StateDirFromCommandLine(OwnCommandLine());
    if (!SimStateDir) {
      Sys->log(Sys, SETUP_ERROR, nullptr, "roster_bmc: no statedir= option and no -s on ipmi_sim's command line");
      return EINVAL;
    }
    Parsed.StateDir = *SimStateDir + "/roster-bmc";
  }

  auto Self = std::make_unique<Module>();
  if (!Self->Store.Open(Parsed.StateDir, Error)) {
    Sys->log(Sys, SETUP_ERROR, nullptr, "roster_bmc: %s", Error.c_str());
    return EINVAL;
  }
  Self->Bmc = std::make_unique<RosterBmc::InventoryBmc>(Parsed, Self->Store, RandomSessionSeed());
  gModule = Self.release();
  const struct {
    unsigned char NetFn;
    unsigned char Command;
  } Commands[] = {{INVENTORY_NETFN, INVENTORY_COMMAND},
                  {SATA_INFO_NETFN, SATA_INFO_COMMAND},
                  {BMC_SUMMARY_NETFN, BMC_SUMMARY_COMMAND}};
  for (const auto &Command : Commands) {
    int Status = ipmi_emu_register_cmd_handler(Command.NetFn, Command.Command, HandleCommand, gModule);
    if (Status != 0) {
      Sys->log(Sys, SETUP_ERROR, nullptr, "roster_bmc: cannot register netfn 0x%02x cmd 0x%02x: %s", Command.NetFn,
               Command.Command, std::strerror(Status));
      return Status;
    }
  }
  Sys->log(Sys, INFO, nullptr, "roster_bmc: storing in %s%s", Parsed.StateDir.c_str(),
           Parsed.SataFailCount != 0 ? " (SATA_INFO failures configured)" : "");
  return 0;
}
