#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "link/Comportclass.h"
#include "link/port_list.h"

namespace fs = std::filesystem;

namespace {

// ttyS2 before ttyS10: the text before the trailing digits, then their value.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t digits = s.find_last_not_of("0123456789") + 1;
        std::string tail = s.substr(digits);
        return std::make_pair(s.substr(0, digits),
                              tail.empty() ? -1L : std::strtol(tail.c_str(), nullptr, 10));
    };
    return split(a) < split(b);
}

// A serial driver entry whose port type is 0 has no UART behind it (the 8250 driver
// registers such phantom ports).
bool HasNoUart(const fs::path& ttyEntry) {
    std::ifstream type(ttyEntry / "type");
    int value = -1;
    return type >> value && value == 0;
}

// The first line of a sysfs attribute file, "" when it is not there.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string GroupOf(const std::string& port) {
    struct stat st {};
    if (::stat(port.c_str(), &st) != 0) return "dialout";
    const group* g = ::getgrgid(st.st_gid);
    return g ? g->gr_name : std::to_string(st.st_gid);
}

std::string UserName() {
    const passwd* p = ::getpwuid(::geteuid());
    return p ? p->pw_name : "$USER";
}

}  // namespace

std::string PortRefusalText(const std::string& port, int32_t systemError) {
    switch (systemError) {
        case EACCES:
        case EPERM: {
            const std::string group = GroupOf(port);
            return "Нет доступа к порту " + port + ".\nПорт принадлежит группе " + group +
                   ", а пользователь " + UserName() +
                   " в неё не входит.\nДобавьте его в группу командой\n    sudo usermod -aG " +
                   group + " " + UserName() +
                   "\nи войдите в систему заново: группа действует с нового входа.";
        }
        case EBUSY:
        case EWOULDBLOCK:
            return "Порт " + port +
                   " занят другой программой.\nЗакройте её и перезапустите программу.";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "Порт " + port +
                   " не найден: адаптер отключен или порта нет.\nПроверьте оборудование, "
                   "перезапустите программу.";
        default:
            return kPortDisconnectedText;
    }
}

std::string DescribePosixSerialPort(const std::string& port, const std::string& sysClassTty,
                                    const std::string& virtualPortDir) {
    std::error_code ec;
    const fs::path path(port);
    if (path.parent_path() == fs::path(virtualPortDir)) return "виртуальный порт имитатора";
    const fs::path device = fs::canonical(fs::path(sysClassTty) / path.filename() / "device", ec);
    if (ec) return {};
    // A USB adapter: the USB device is the first folder above the tty's that names a vendor.
    for (fs::path dir = device; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        std::string text = Attribute(dir / "manufacturer");
        const std::string product = Attribute(dir / "product");
        if (!product.empty()) text += (text.empty() ? "" : " ") + product;
        if (text.empty())
            text = "USB " + Attribute(dir / "idVendor") + ":" + Attribute(dir / "idProduct");
        const std::string serial = Attribute(dir / "serial");
        return serial.empty() ? text : text + ", № " + serial;
    }
    return "встроенный последовательный порт";
}

std::string PortDescription(const std::string& port) {
    return DescribePosixSerialPort(port, "/sys/class/tty", VirtualPortDirectory());
}

std::string VirtualPortDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && *runtime ? runtime : "/tmp";
    return base + "/vek-ports";
}

std::vector<std::string> ListPosixSerialPorts(const std::string& sysClassTty,
                                              const std::string& devDir,
                                              const std::string& virtualPortDir) {
    std::error_code ec;
    std::vector<std::string> hardware;
    for (const fs::directory_entry& entry : fs::directory_iterator(sysClassTty, ec)) {
        if (!fs::exists(entry.path() / "device", ec) || HasNoUart(entry.path())) continue;
        hardware.push_back(entry.path().filename().string());
    }
    std::sort(hardware.begin(), hardware.end(), NaturalLess);

    std::vector<std::string> virtualPorts;
    for (const fs::directory_entry& entry : fs::directory_iterator(virtualPortDir, ec)) {
        // A link left behind by a line that has ended points nowhere.
        if (entry.is_symlink(ec) && fs::exists(entry.path(), ec)) {
            virtualPorts.push_back(entry.path().string());
        }
    }
    std::sort(virtualPorts.begin(), virtualPorts.end(), NaturalLess);

    std::vector<std::string> names;
    for (const std::string& name : hardware)
        names.push_back(devDir + "/" + name);
    names.insert(names.end(), virtualPorts.begin(), virtualPorts.end());
    return names;
}

std::vector<std::string> SystemPortNames() {
    return ListPosixSerialPorts("/sys/class/tty", "/dev", VirtualPortDirectory());
}
