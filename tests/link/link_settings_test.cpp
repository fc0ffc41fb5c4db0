#include <gtest/gtest.h>

#include "link/Comportclass.h"
#include "support/message_recorder.h"
#include "support/scripted_port.h"
#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/pty_pair.h"
#endif

namespace {

const std::string kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

// A port name that the link's name check accepts on this system.
#ifdef _WIN32
const char* const kPort = "COM5";
#else
const char* const kPort = "/dev/ttyUSB0";
#endif

class LinkSettings : public ::testing::Test {
  protected:
    LinkSettings() {
        auto backend = std::make_unique<ScriptedBackend>();
        line = backend.get();
        port = std::make_unique<TComPort>(std::move(backend));
        link = std::make_unique<TComPortClass>(*port);
        link->OnCloseRequest = [this] { ++closeRequests; };
        link->PortName = kPort;
    }

    ScriptedBackend* line;
    std::unique_ptr<TComPort> port;
    std::unique_ptr<TComPortClass> link;
    MessageRecorder recorder;
    int closeRequests = 0;
};

TEST_F(LinkSettings, StartsWithTheDefaults) {
    TComPortClass fresh(*port);
    EXPECT_EQ(fresh.GetStage1Attempts(), 5);
    EXPECT_EQ(fresh.GetSendDelay(), 25);
    EXPECT_EQ(fresh.GetReceiveDelay(), 20);
    EXPECT_EQ(fresh.BaudText, "9600");
    EXPECT_EQ(fresh.ParityLetter, "N");
    EXPECT_EQ(fresh.StopBitsText, "2");
    EXPECT_EQ(fresh.PortName, "COM1");
    EXPECT_EQ(fresh.GetRequestLength(), 0);
    EXPECT_EQ(fresh.GetReplyLength(), 0);
}

TEST_F(LinkSettings, OpenPortAppliesEachSettingAndOpens) {
    link->BaudText = "56000";  // never offered by the dialog, still one of the rates
    link->ParityLetter = "O";
    link->StopBitsText = "1";
    EXPECT_EQ(link->OpenPort(), 0);
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(port->BaudRate(), br56000);
    EXPECT_EQ(port->Parity().Bits, prOdd);
    EXPECT_EQ(port->StopBits(), sbOneStopBit);
    EXPECT_EQ(port->Port(), kPort);
    EXPECT_EQ(line->calls.front(), std::string("open ") + kPort);
    EXPECT_TRUE(recorder.messages.empty());

    link->ParityLetter = "E";
    link->StopBitsText = "2";
    EXPECT_EQ(link->OpenPort(), 0);  // closes and reopens with the new settings
    EXPECT_EQ(port->Parity().Bits, prEven);
    EXPECT_EQ(port->StopBits(), sbTwoStopBits);
}

TEST_F(LinkSettings, RefusedSettingReturnsMinusOneSilentlyAndKeepsEarlierOnes) {
    struct Case {
        const char* baud;
        const char* parity;
        const char* stop;
        const char* name;
    };
    const Case refused[] = {
        {"128000", "N", "2", kPort}, {"", "N", "2", kPort},    {"abc", "N", "2", kPort},
        {"9600", "n", "2", kPort},   {"9600", "", "2", kPort}, {"9600", "N", "3", kPort},
        {"9600", "N", "", kPort},    {"9600", "N", "2", ""},
    };
    for (const Case& c : refused) {
        link->BaudText = "9600";
        link->ParityLetter = "N";
        link->StopBitsText = "2";
        link->PortName = kPort;
        ASSERT_EQ(link->OpenPort(), 0);
        link->BaudText = c.baud;
        link->ParityLetter = c.parity;
        link->StopBitsText = c.stop;
        link->PortName = c.name;
        EXPECT_EQ(link->OpenPort(), -1)
            << c.baud << "/" << c.parity << "/" << c.stop << "/" << c.name;
        EXPECT_FALSE(port->Connected());
    }
    EXPECT_TRUE(recorder.messages.empty());

    link->BaudText = "19200";
    link->ParityLetter = "E";
    link->StopBitsText = "7";
    EXPECT_EQ(link->OpenPort(), -1);
    EXPECT_EQ(port->BaudRate(), br19200);  // read before the refusal, so applied
    EXPECT_EQ(port->Parity().Bits, prEven);
}

TEST_F(LinkSettings, NumbersAreReadFromTheStartOfTheTexts) {
    link->BaudText = "115200 бит/с";
    link->StopBitsText = "2x";
    EXPECT_EQ(link->OpenPort(), 0);
    EXPECT_EQ(port->BaudRate(), br115200);
}

TEST_F(LinkSettings, PortNameCheck) {
#ifdef _WIN32
    EXPECT_TRUE(IsAcceptablePortName("COM1"));
    EXPECT_TRUE(IsAcceptablePortName("com7"));
    EXPECT_TRUE(IsAcceptablePortName("\\Device\\COM12"));
    EXPECT_FALSE(IsAcceptablePortName("Com7"));
    EXPECT_FALSE(IsAcceptablePortName(""));
#else
    EXPECT_TRUE(IsAcceptablePortName("/dev/ttyUSB0"));
    EXPECT_TRUE(IsAcceptablePortName("/run/user/1000/vek-ports/ttyVEK0"));
    EXPECT_FALSE(IsAcceptablePortName("ttyUSB0"));
    EXPECT_FALSE(IsAcceptablePortName("COM1"));
    EXPECT_FALSE(IsAcceptablePortName(""));
#endif
}

TEST_F(LinkSettings, OpenFailureReportsDisconnectionAndAsksToClose) {
    line->failOn = "dcb";  // a failure whose cause the system does not name
    EXPECT_EQ(link->OpenPort(), -1);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, kDisconnected);
    EXPECT_EQ(recorder.messages[0].caption, "Ошибка");
    EXPECT_EQ(recorder.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(closeRequests, 1);
}

TEST_F(LinkSettings, CloseFailureIsReportedAndOpeningGoesOn) {
    ASSERT_EQ(link->OpenPort(), 0);
    line->failPurge = true;  // closing purges first
    EXPECT_EQ(link->OpenPort(), 0);
    EXPECT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(closeRequests, 1);

    link->ClosePort();  // swallowed without a message
    EXPECT_EQ(recorder.messages.size(), 1u);
    line->failPurge = false;
    link->ClosePort();
    EXPECT_FALSE(port->Connected());
}

#ifndef _WIN32
// A refused open names its cause and its remedy, and the window still closes after it: a port
// held by another program, a port that is gone, and a port the user may not open (tried as
// another user, in a child process).
TEST_F(LinkSettings, RefusedOpenNamesItsCause) {
    PtyPair pty;
    const std::string path = pty.SlavePath();
    auto refusal = [this](const std::string& name) {
        TComPort port2;
        TComPortClass link2(port2);
        link2.OnCloseRequest = [this] { ++closeRequests; };
        link2.PortName = name;
        recorder.messages.clear();
        EXPECT_EQ(link2.OpenPort(), -1);
        return recorder.messages.size() == 1 ? recorder.messages[0].text : std::string("?");
    };
    {
        TComPort holder;
        holder.SetPort(path);
        holder.Open();
        EXPECT_EQ(
            refusal(path),
            "Порт " + path + " занят другой программой.\nЗакройте её и перезапустите программу.");
    }
    EXPECT_EQ(refusal("/dev/ttyVEKgone"),
              "Порт /dev/ttyVEKgone не найден: адаптер отключен или порта нет.\nПроверьте "
              "оборудование, перезапустите программу.");
    EXPECT_EQ(closeRequests, 2);

    if (geteuid() != 0) GTEST_SKIP() << "needs root to try the open as another user";
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
        const std::string text = refusal(path);
        _exit(write(pipeFds[1], text.data(), text.size()) > 0 ? 0 : 3);
    }
    close(pipeFds[1]);
    std::string text(4096, '\0');
    text.resize(std::max<ssize_t>(read(pipeFds[0], text.data(), text.size()), 0));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const std::string group = getgrgid(st.st_gid)->gr_name;
    EXPECT_EQ(text, "Нет доступа к порту " + path + ".\nПорт принадлежит группе " + group +
                        ", а пользователь nobody в неё не входит.\nДобавьте его в группу "
                        "командой\n    sudo usermod -aG " +
                        group +
                        " nobody\nи войдите в систему заново: группа действует с нового входа.");
}
#endif  // a held port on Windows is tested under tests/win where the system enforces it

struct ReportCase {
    int32_t device;
    int32_t code;
    const char* portName;
    const char* text;
    const char* caption;
    MessageIcon icon;
};

TEST_F(LinkSettings, ReportErrorShowsTheMessageOfEachCode) {
    const MessageIcon W = MessageIcon::Warning, E = MessageIcon::Error;
    const ReportCase cases[] = {
        {0, 130, "COM1", "устройство 1 COM1 не отвечает на запрос", "Предупреждение", W},
        {31, 131, "COM3", "устройство 32 COM3 ошибка контрольной суммы", "Предупреждение", W},
        {4, 2, "COM1", "устройство 5 COM1 ошибка обмена 02", "Предупреждение", W},
        {4, 300, "COM1", "устройство 5 COM1 ошибка обмена 12C", "Предупреждение", W},
        {4, 1, "COM1", "устройство 5 COM1 ошибка обмена 01", "Предупреждение", W},
        {4, 0xAB, "COM1", "устройство 5 COM1 ошибка обмена AB", "Предупреждение", W},
        {4, DeviceExceptionResult(0x84), "COM1", "устройство 5 COM1 ошибка обмена 84",
         "Предупреждение", W},
        {2, 6, "COM2", "устройство 3 COM2 Идет запись базы данных. Ждите.", "Предупреждение", W},
        {0, 128, "COM1", "устройство 1 COM1 ошибка приема данных ", "Предупреждение", W},
        {0, 129, "/dev/ttyUSB0", "устройство 1 /dev/ttyUSB0 тайм-аут приема данных",
         "Предупреждение", W},
        {17, 132, "COM1", " невозможно открыть последовательный порт ", "Предупреждение", W},
        {0, 133, "COM1", "вероятно, порт не настроен", "Ошибка", E},
        {0, 134, "COM1", "сбой настройки порта при выключении прибора", "Ошибка", E},
        {0, 135, "COM1", "ошибка настройки порта", "Ошибка", E},
        {0, 256, "COM1", "Не выбран COM-порт.", "Ошибка", E},
        {0, 257, "COM1", "COM-порт отключен. Проверьте оборудование, перезапустите программу.",
         "Ошибка", E},
    };
    for (const ReportCase& c : cases) {
        recorder.messages.clear();
        link->PortName = c.portName;
        link->ReportError(c.device, c.code);
        ASSERT_EQ(recorder.messages.size(), 1u) << c.code;
        const OperatorMessage& m = recorder.messages[0];
        EXPECT_EQ(m.text, c.text);
        EXPECT_EQ(m.caption, c.caption) << c.code;
        EXPECT_EQ(m.icon, c.icon) << c.code;
        EXPECT_EQ(m.buttons, MessageButtons::Ok);
    }
    recorder.messages.clear();
    link->ReportError(3, 0);
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(LinkSettings, ReportOfPortNotConnectedClosesThePortFirst) {
    ASSERT_EQ(link->OpenPort(), 0);
    bool connectedWhenShown = true;
    SetMessageResponder([&](const OperatorMessage&) {
        connectedWhenShown = port->Connected();
        return MessageAnswer::Ok;
    });
    link->ReportError(0, lrPortNotConnected);
    EXPECT_FALSE(connectedWhenShown);
}

}  // namespace
