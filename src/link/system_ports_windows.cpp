// The serial ports of a Windows system: the names in the registry's
// SERIALCOMM map, which every serial driver fills, and what SetupAPI
// knows of each (its friendly name and USB identity) where it knows it.

#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <map>

#include "link/device_ids.h"
#include "link/port_sources.h"
#include "protocol/image_file.h"

namespace vq {
namespace {

std::string utf8(const wchar_t* text) { return utf8_from_path(std::filesystem::path(std::wstring(text))); }

std::vector<std::string> serialcomm_names() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t value_name[256], data[64];
        DWORD name_size = 256, data_size = sizeof data - sizeof(wchar_t), type = 0;
        const LONG r = RegEnumValueW(key, i, value_name, &name_size, nullptr, &type, reinterpret_cast<BYTE*>(data), &data_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[data_size / sizeof(wchar_t)] = L'\0';
        names.push_back(utf8(data));
    }
    RegCloseKey(key);
    return names;
}

std::string instance_id(DEVINST instance) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = L"";
    return CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? utf8(id) : std::string();
}

struct Known {
    std::string friendly;
    std::optional<UsbIds> usb;
};

// What SetupAPI says of each present port, by its COM name.
std::map<std::string, Known> setupapi_ports() {
    std::map<std::string, Known> ports;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t port_name[64] = L"";
        DWORD size = sizeof port_name - sizeof(wchar_t), type = 0;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port_name), &size) ==
                               ERROR_SUCCESS && type == REG_SZ;
        RegCloseKey(key);
        if (!named) continue;
        Known known;
        wchar_t friendly[256] = L"";
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(friendly),
                                              sizeof friendly - sizeof(wchar_t), nullptr))
            known.friendly = utf8(friendly);
        DEVINST parent = 0;
        known.usb = usb_ids_of_port(instance_id(device.DevInst), CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS
                                                                      ? instance_id(parent)
                                                                      : std::string());
        ports[utf8(port_name)] = known;
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

}  // namespace

std::vector<PortInfo> SystemPortSource::present() {
    const auto known = setupapi_ports();
    std::vector<std::string> names = serialcomm_names();
    for (const auto& [name, about] : known)
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    std::vector<PortInfo> ports;
    for (const std::string& name : names) {
        const int n = com_number_of(name);
        if (n == 0) continue;
        PortInfo info{n <= 9 ? name : win32_device_path(name), {}, {}, true};
        std::string serial;
        if (const auto k = known.find(name); k != known.end()) {
            info.description = k->second.friendly;
            if (k->second.usb) {
                if (!info.description.empty()) info.description += ", ";
                info.description += usb_ids_words(*k->second.usb);
                const UsbIds& usb = *k->second.usb;
                if (!usb.serial.empty())
                    serial = usb.vid + ":" + usb.pid + " " + usb.serial + (usb.usb_interface.empty() ? "" : " " + usb.usb_interface);
            }
        }
        info.identity = port_identity(serial, "", info.device);
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return com_number_of(a.device) < com_number_of(b.device); });
    return ports;
}

}  // namespace vq
