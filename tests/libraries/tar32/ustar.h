// Tar archives built by hand for the tests, so that they may hold anything (names leading
// outside, devices, links anywhere), and gzip around them.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compressed_streams.h"

namespace zembrat::tar32::testing {

struct TarMember {
    std::string name;
    char type;  // '0' file, '1' hard link, '2' symbolic link, '3' character device, '5' folder,
                // '6' FIFO
    std::string data;  // a file's data, or a link's target
};

// A ustar archive of the members, built by hand so that it may hold anything.
inline std::string Ustar(const std::vector<TarMember>& members) {
    std::string out;
    for (const TarMember& member : members) {
        std::string header(512, '\0');
        std::memcpy(header.data(), member.name.data(),
                    std::min<std::size_t>(member.name.size(), 100));
        const bool isLink = member.type == '1' || member.type == '2';
        const std::size_t size = member.type == '0' ? member.data.size() : 0;
        std::snprintf(header.data() + 100, 8, "%07o", member.type == '5' ? 0755 : 0644);
        std::snprintf(header.data() + 108, 8, "%07o", 0);
        std::snprintf(header.data() + 116, 8, "%07o", 0);
        std::snprintf(header.data() + 124, 12, "%011zo", size);
        std::snprintf(header.data() + 136, 12, "%011o", 1000000000);
        header[156] = member.type;
        if (isLink) {
            std::memcpy(header.data() + 157, member.data.data(), member.data.size());
        }
        std::memcpy(header.data() + 257,
                    "ustar\0"
                    "00",
                    8);
        std::memset(header.data() + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : header) {
            sum += c;
        }
        std::snprintf(header.data() + 148, 8, "%06o", sum);
        out += header;
        if (size > 0) {
            out += member.data;
            out.append((512 - size % 512) % 512, '\0');
        }
    }
    out.append(1024, '\0');
    return out;
}

using zembrat::testing::Gzip;

}  // namespace zembrat::tar32::testing
