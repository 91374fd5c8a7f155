// Path blocks: one identifier line, then the indented value lines, a blank
// line after each block. Device blocks: the device name alone on its line,
// then its values; the line with "Vendor:", "Model:" and "Revis:" is the
// seventh after the name.
#include "esxi_listing.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace sansim {
namespace {

std::string ReadCanned(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Adapter(int host) {
    return "vmhba" + std::to_string(host);
}

std::string RuntimeName(int host, int channel, int target, int lun) {
    return Adapter(host) + ":C" + std::to_string(channel) + ":T" + std::to_string(target) + ":L" +
           std::to_string(lun);
}

// "fc.WWNN:WWPN" for Fibre Channel ports, the name itself for iSCSI.
std::string PortIdentifier(const std::string& transport, const std::string& port) {
    if (transport == "fc" || transport == "fcoe") {
        return "fc." + port + ":" + port;
    }
    return port;
}

std::string DisplayName(const std::string& vendor, const std::string& transport,
                        const std::string& device) {
    const char* kind = transport == "iscsi"  ? "iSCSI Disk"
                       : transport == "fc"   ? "Fibre Channel Disk"
                       : transport == "fcoe" ? "Fibre Channel Disk"
                                             : "Disk";
    return vendor + " " + kind + " (" + device + ")";
}

struct PathBlock {
    std::string device, displayName, state, transport, adapterId, targetId;
    int host, channel, target, lun;
};

void WritePathBlock(const PathBlock& p, std::ostringstream* out) {
    std::string runtime = RuntimeName(p.host, p.channel, p.target, p.lun);
    *out << p.adapterId << "-" << p.targetId << "-" << p.device << "\n"
         << "   Runtime Name: " << runtime << "\n"
         << "   Device: " << p.device << "\n"
         << "   Device Display Name: " << p.displayName << "\n"
         << "   Adapter: " << Adapter(p.host) << " Channel: " << p.channel
         << " Target: " << p.target << " LUN: " << p.lun << "\n"
         << "   Adapter Identifier: " << p.adapterId << "\n"
         << "   Target Identifier: " << p.targetId << "\n"
         << "   Plugin: NMP\n"
         << "   State: " << p.state << "\n"
         << "   Transport: " << p.transport << "\n\n";
}

std::string HostTransport(const Topology& topo, int host) {
    const ScsiHost* h = FindHost(topo, host);
    return h != nullptr ? EsxiTransport(*h) : "fc";
}

std::string HostPort(const Topology& topo, int host) {
    const ScsiHost* h = FindHost(topo, host);
    return h != nullptr && !h->initiatorPort.empty() ? h->initiatorPort : "unknown";
}

// The transport of a LUN's first path names the kind of disk.
std::string LunTransport(const Topology& topo, const Lun& lun) {
    return lun.paths.empty() ? "fc" : HostTransport(topo, lun.paths.front().host);
}

void WriteDeviceBlock(const std::string& device, uint64_t sizeBytes, const std::string& vendor,
                      const std::string& product, const std::string& revision,
                      const std::string& displayName, bool local, std::ostringstream* out) {
    char values[96];
    snprintf(values, sizeof values, "   Vendor: %-8s  Model: %-16s  Revis: %-4s", vendor.c_str(),
             product.c_str(), revision.c_str());
    *out << device << "\n"
         << "   Device Type: Direct-Access \n"
         << "   Size: " << sizeBytes / (1024 * 1024) << " MB\n"
         << "   Display Name: " << displayName << "\n"
         << "   Multipath Plugin: NMP\n"
         << "   Console Device: /vmfs/devices/disks/" << device << "\n"
         << "   Devfs Path: /vmfs/devices/disks/" << device << "\n"
         << values << "\n"
         << "   SCSI Level: 6  Is Pseudo: false Status: on                  \n"
         << "   Is RDM Capable: " << (local ? "false" : "true") << " Is Removable: false\n"
         << "   Is Local: " << (local ? "true" : "false") << " Is SSD: false\n"
         << "   Other Names:\n"
         << "      vml.0200000000" << device.substr(device.find('.') + 1) << "\n"
         << "   VAAI Status: unknown\n\n";
}

}  // namespace

std::string RenderEsxiPathListing(const Topology& topo) {
    if (!topo.esxi.cannedPaths.empty()) {
        return ReadCanned(topo.esxi.cannedPaths);
    }
    std::ostringstream out;
    for (const Lun& lun : topo.luns) {
        const Array* array = FindArray(topo, lun.array);
        std::string device = EsxiDeviceName(lun);
        for (const Path& path : lun.paths) {
            const TargetPort* port =
                array != nullptr ? FindTargetPort(*array, path.targetPort) : nullptr;
            std::string transport = HostTransport(topo, path.host);
            PathBlock block{device,
                            DisplayName(array != nullptr ? array->vendor : "", transport, device),
                            EsxiPathState(path),
                            transport,
                            PortIdentifier(transport, HostPort(topo, path.host)),
                            PortIdentifier(transport, port != nullptr ? port->identifier : ""),
                            path.host,
                            path.channel,
                            path.target,
                            path.lun};
            WritePathBlock(block, &out);
        }
    }
    for (const OtherDevice& other : topo.others) {
        if (!other.scsi) {
            continue;
        }
        std::string transport = HostTransport(topo, other.host);
        PathBlock block{other.name,
                        DisplayName(other.vendor, transport, other.name),
                        "active",
                        transport,
                        transport + "." + Adapter(other.host),
                        transport + "." + std::to_string(other.target),
                        other.host,
                        other.channel,
                        other.target,
                        other.lun};
        WritePathBlock(block, &out);
    }
    return out.str();
}

std::string RenderEsxiDeviceListing(const Topology& topo) {
    if (!topo.esxi.cannedDevices.empty()) {
        return ReadCanned(topo.esxi.cannedDevices);
    }
    std::ostringstream out;
    for (const OtherDevice& other : topo.others) {
        if (other.scsi) {
            WriteDeviceBlock(
                other.name, other.sizeBytes, other.vendor, other.product, other.revision,
                DisplayName(other.vendor, HostTransport(topo, other.host), other.name), true, &out);
        }
    }
    for (const Lun& lun : topo.luns) {
        const Array* array = FindArray(topo, lun.array);
        if (array == nullptr) {
            continue;
        }
        std::string device = EsxiDeviceName(lun);
        WriteDeviceBlock(device, lun.sizeBytes, array->vendor, array->product, array->revision,
                         DisplayName(array->vendor, LunTransport(topo, lun), device), false, &out);
    }
    return out.str();
}

std::string RenderEsxiVibList(const Topology& topo) {
    static const char* const kBase[][2] = {
        {"ata-libata-92", "3.00.9.2-16vmw.670.0.0.8169922"},
        {"lpfc", "12.0.193.14-1OEM.670.0.0.8169922"},
        {"nmp-base", "6.7.0-0.0.8169922"},
        {"qlnativefc", "3.1.8.0-1OEM.670.0.0.8169922"},
        {"vsan", "6.7.0-0.0.8169922"},
    };
    std::ostringstream out;
    char line[160];
    snprintf(line, sizeof line, "%-30s %-36s %-7s %-17s %s\n", "Name", "Version", "Vendor",
             "Acceptance Level", "Install Date");
    out << line;
    snprintf(line, sizeof line, "%-30s %-36s %-7s %-17s %s\n", std::string(30, '-').c_str(),
             std::string(36, '-').c_str(), std::string(6, '-').c_str(),
             std::string(16, '-').c_str(), std::string(12, '-').c_str());
    out << line;
    for (const auto& vib : kBase) {
        snprintf(line, sizeof line, "%-30s %-36s %-7s %-17s %s\n", vib[0], vib[1], "VMW",
                 "VMwareCertified", "2026-01-14");
        out << line;
    }
    for (const std::string& name : topo.esxi.vibs) {
        snprintf(line, sizeof line, "%-30s %-36s %-7s %-17s %s\n", name.c_str(), "1.0.0-1", "QLM",
                 "PartnerSupported", "2026-03-02");
        out << line;
    }
    return out.str();
}

}  // namespace sansim
