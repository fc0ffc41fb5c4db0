// The operator's side of vek-sim: command-line options and the commands of standard input,
// with the messages for bad input.
#include <gtest/gtest.h>

#include "sim_control.h"

using namespace vsim;

namespace {

const SimTime t0{};

std::optional<SimOptions> Parse(std::vector<std::string> args, std::string* errorOut = nullptr) {
    std::string error;
    auto options = ParseOptions(args, error);
    if (errorOut) *errorOut = error;
    return options;
}

TEST(Options, DevicesSpeedNameAndTimes) {
    auto o = Parse({"--device", "1:106", "--device=2:105:3", "--baud", "19200", "--name", "ttyVEK7",
                    "--busy", "200", "--turnaround=0", "-e", "fault 1 crc", "-v"});
    ASSERT_TRUE(o);
    ASSERT_EQ(o->devices.size(), 2u);
    EXPECT_EQ(o->devices[1].address, 2);
    EXPECT_EQ(o->devices[1].type, 105);
    EXPECT_EQ(o->devices[1].version, 3);
    EXPECT_EQ(o->baud, 19200);
    EXPECT_EQ(o->name, "ttyVEK7");
    EXPECT_EQ(o->busyMs, 200);
    EXPECT_EQ(o->turnaroundMs, 0);
    EXPECT_EQ(o->commands, std::vector<std::string>{"fault 1 crc"});
    EXPECT_TRUE(o->verbose);
    EXPECT_FALSE(o->help);
    EXPECT_TRUE(Parse({"--help"})->help);
}

TEST(Options, BadInputIsRefusedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--device"},           {"--device", "0:106"},
        {"--device", "33:106"}, {"--device", "1:256"},
        {"--device", "1"},      {"--device", "1:106:1:1"},
        {"--device", "x:106"},  {"--device", "1:106", "--device", "1:105"},
        {"--baud", "fast"},     {"--baud", "99999999999999999999"},
        {"--baud", "50"},       {"--name", "../etc"},
        {"--name", ""},         {"--name", "a b"},
        {"--busy", "-1"},       {"--turnaround", "1e3"},
        {"--frobnicate"},       {"stray"}};
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(Options, BuildLineUsesTheDemonstrationLineWithoutDevices) {
    VirtualLine line;
    EXPECT_EQ(BuildLine(*Parse({"--busy", "250"}), line, t0), "");
    ASSERT_GE(line.Devices().size(), 3u);
    int vek01 = 0, vek02 = 0, other = 0;
    for (const auto& d : line.Devices()) {
        EXPECT_TRUE(d->Privileged());
        EXPECT_EQ(d->BusyTime(), std::chrono::milliseconds(250));
        (d->Type() == kTypeVek01 ? vek01 : d->Type() == kTypeVek02 ? vek02 : other)++;
    }
    EXPECT_GE(vek01, 1);
    EXPECT_GE(vek02, 1);
    EXPECT_GE(other, 1);

    VirtualLine custom;
    EXPECT_EQ(BuildLine(*Parse({"--device", "7:103", "-e", "fault 7 silent"}), custom, t0), "");
    ASSERT_EQ(custom.Devices().size(), 1u);
    EXPECT_TRUE(custom.Find(7, t0)->faults.silent);

    VirtualLine failing;
    const std::string error =
        BuildLine(*Parse({"--device", "7:103", "-e", "fault 8 crc"}), failing, t0);
    EXPECT_NE(error.find("fault 8 crc"), std::string::npos);
}

class Commands : public ::testing::Test {
  protected:
    Commands() { dev = line.Add(2, kTypeVek02, 1, t0); }
    std::string Run(const std::string& command) { return RunCommand(command, line, t0).text; }
    static bool Refused(const std::string& text) { return text.rfind("error: ", 0) == 0; }

    VirtualLine line;
    VirtualDevice* dev = nullptr;
};

TEST_F(Commands, ChangeTheDevice) {
    EXPECT_FALSE(Refused(Run("pressure 2 2 -3.5")));
    EXPECT_EQ(dev->Pressure(2), -3.5);
    Run("pressure 2 1 break");
    EXPECT_FALSE(dev->Pressure(1));
    Run("mode 2 user");
    EXPECT_FALSE(dev->Privileged());
    Run("mode 2 priv");
    EXPECT_TRUE(dev->Privileged());
    Run("type 2 255");
    Run("version 2 4");
    EXPECT_EQ(dev->Type(), 255);
    EXPECT_EQ(dev->Version(), 4);
    Run("blocklen 2 18");
    EXPECT_EQ(dev->Block().size(), 18u);
    Run("byte 2 17 5");  // renumbered at once
    EXPECT_EQ(line.Find(6, t0), dev);
    EXPECT_NE(Run("show 6").find("block (18 bytes)"), std::string::npos);
    Run("add 9:100:2");
    EXPECT_EQ(line.Find(9, t0)->Version(), 2);
    Run("remove 9");
    EXPECT_EQ(line.Find(9, t0), nullptr);
    Run("busy 40");
    EXPECT_EQ(dev->BusyTime(), std::chrono::milliseconds(40));
    Run("turnaround 12");
    EXPECT_EQ(line.TurnaroundMs(), 12);
    EXPECT_TRUE(RunCommand("quit", line, t0).quit);
    EXPECT_EQ(Run("   "), "");
}

TEST_F(Commands, SetAndClearFaults) {
    Run("fault 2 drop 3");
    Run("fault 2 short 5");
    Run("fault 2 crc");
    Run("fault 2 foreign");
    Run("fault 2 exception 6");
    Run("fault 2 split");
    Run("fault 2 newtype 105");
    Run("fault 2 newversion 2");
    EXPECT_EQ(Run("fault 2 longblock"), Run("fault 2 longblock 32"));
    const DeviceFaults& f = dev->faults;
    EXPECT_EQ(f.dropEvery, 3);
    EXPECT_EQ(f.shortLength, 5);
    EXPECT_TRUE(f.badCrc);
    EXPECT_EQ(f.foreignFunction, 256);
    EXPECT_EQ(f.exceptionCode, 6);
    EXPECT_EQ(f.splitGapMs, 150);
    EXPECT_EQ(f.typeAfterWrite, 105);
    EXPECT_EQ(f.versionAfterWrite, 2);
    EXPECT_EQ(f.longBlock, 32);
    Run("fault 2 split 300 4");
    EXPECT_EQ(f.splitGapMs, 300);
    EXPECT_EQ(f.splitAt, 4);
    Run("fault 2 clear");
    EXPECT_FALSE(f.Any());
    Run("fault 2 silent");
    EXPECT_TRUE(f.silent);
}

TEST_F(Commands, BadCommandsAreRefusedAndChangeNothing) {
    const std::vector<uint8_t> block = dev->Block();
    for (const char* bad : {"frobnicate",
                            "show",
                            "show x",
                            "show 0",
                            "show 33",
                            "show 3",
                            "pressure 2 3 50",
                            "pressure 2 1",
                            "pressure 2 1 fifty",
                            "pressure 2 1 nan",
                            "pressure 2 1 inf",
                            "pressure 2 1 1e400",
                            "mode 2 root",
                            "fault 2",
                            "fault 2 drop 0",
                            "fault 2 drop",
                            "fault 2 short -1",
                            "fault 2 exception 256",
                            "fault 2 longblock 30",
                            "fault 2 longblock 256",
                            "fault 2 crc 1",
                            "fault 2 teleport",
                            "type 2 300",
                            "blocklen 2 31",
                            "blocklen 2 17",
                            "byte 2 22 1",
                            "byte 2 0 256",
                            "noise 2 -1",
                            "busy",
                            "busy 70000",
                            "add",
                            "add 2:106",
                            "add 40:106",
                            "show 99999999999999999999",
                            "pressure 2 1 5 6"}) {
        EXPECT_TRUE(Refused(Run(bad))) << bad;
    }
    EXPECT_FALSE(dev->faults.Any());
    EXPECT_EQ(dev->Block(), block);
    EXPECT_EQ(dev->Type(), kTypeVek02);
    EXPECT_EQ(line.Devices().size(), 1u);
    EXPECT_EQ(dev->Pressure(1), 60.0);
}

TEST(Help, NamesEveryOptionCommandAndFault) {
    const std::string help = UsageText();
    for (const char* word : {"--device",
                             "--baud",
                             "--name",
                             "--busy",
                             "--turnaround",
                             "--exec",
                             "--verbose",
                             "--help",
                             "ready",
                             "vek-ports",
                             "XDG_RUNTIME_DIR",
                             "SIGTERM",
                             "pressure",
                             "mode",
                             "fault",
                             "show",
                             "list",
                             "add",
                             "remove",
                             "type",
                             "version",
                             "blocklen",
                             "byte",
                             "noise",
                             "quit",
                             "silent",
                             "drop",
                             "short",
                             "crc",
                             "foreign",
                             "exception",
                             "split",
                             "newtype",
                             "newversion",
                             "longblock",
                             "clear"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

}  // namespace
