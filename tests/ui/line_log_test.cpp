// What the tool sends on the line for each device operation, request by request and byte for
// byte, against the simulator: a read, a write, a renumbering, a refused renumbering, a
// calibration answered Yes and No, a trim and a scan. The expected logs are files beside this
// test (line_logs/NAME.txt, one request a line in hex); a change to the exchanges of an
// operation shows as a difference here. VEK_UPDATE_LINE_LOGS=1 writes the files anew.
#include <QPushButton>
#include <fstream>
#include <sstream>

#include "scan_to_end.h"
#include "ui/Obrlistdevice.h"
#include "ui_Obrlistdevice.h"
#include "window_on_line.h"

namespace {

struct RequestLog final : LinkObserver {
    std::string text;
    void RequestWritten(int64_t, std::span<const uint8_t> frame) override {
        static const char* const digits = "0123456789ABCDEF";
        for (size_t i = 0; i < frame.size(); ++i) {
            if (i) text += ' ';
            text += digits[frame[i] >> 4];
            text += digits[frame[i] & 15];
        }
        text += '\n';
    }
    void ReplyRead(int64_t, std::span<const uint8_t>, int64_t) override {}
    void TransactionEnded(int64_t, int32_t, int32_t) override {}
};

struct Operation {
    const char* name;
    void (*run)(WindowOnLine&);
};

class LineLog : public WindowOnLine, public ::testing::WithParamInterface<Operation> {};

TEST_P(LineLog, IsTheOneOnFile) {
    Device(1, [](vsim::VirtualDevice& d) {
        d.fixedMeasurement = vsim::Measurement{{100, 200}, {0, 0}, {4321, -1234}};
    });
    ReadDevice(1);
    RequestLog log;
    form1.Link.Observer = &log;
    GetParam().run(*this);
    form1.Link.Observer = nullptr;

    const std::string path = std::string(VEK_LINE_LOG_DIR) + "/" + GetParam().name + ".txt";
    if (qEnvironmentVariableIsSet("VEK_UPDATE_LINE_LOGS")) {
        std::ofstream(path) << log.text;
        return;
    }
    std::ifstream file(path);
    ASSERT_TRUE(file) << path;
    std::stringstream expected;
    expected << file.rdbuf();
    EXPECT_EQ(log.text, expected.str());
}

const Operation kOperations[] = {
    {"read", [](WindowOnLine& t) { QTest::keyClick(&t.form1, Qt::Key_F9); }},
    {"write",
     [](WindowOnLine& t) {
         Choose(t.form1.ui->CBoxTipK1, 1 - t.form1.ui->CBoxTipK1->currentIndex());
         QTest::keyClick(&t.form1, Qt::Key_F10);
     }},
    {"renumbering",
     [](WindowOnLine& t) {
         Choose(t.form1.ui->CBoxUstrZ, 4);
         QTest::keyClick(&t.form1, Qt::Key_F10);
     }},
    {"renumbering_refused",
     [](WindowOnLine& t) {
         Choose(t.form1.ui->CBoxUstrZ, 1);
         QTest::keyClick(&t.form1, Qt::Key_F10);
     }},
    {"calibration_yes", [](WindowOnLine& t) { t.form1.ui->KalibrBegSk1->click(); }},
    {"calibration_no",
     [](WindowOnLine& t) {
         t.recorder.answers = {MessageAnswer::No};
         t.form1.ui->KalibrEndSk2->click();
     }},
    {"trim", [](WindowOnLine& t) { Choose(t.form1.ui->CBoxCurrentEnd2, 15); }},
    {"scan",
     [](WindowOnLine& t) {
         TFormDevice list(t.form1.Link);
         list.ui->CBoxUstr->setCurrentIndex(2);  // up to 3
         ScanToEnd(list);
     }},
};
INSTANTIATE_TEST_SUITE_P(Operations, LineLog, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
