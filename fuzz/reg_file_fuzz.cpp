// The .reg file reader: any bytes, read as either hive; every value found must be well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    for (plat::RegFileRoot root : {plat::RegFileRoot::LocalMachine, plat::RegFileRoot::CurrentUser}) {
        for (const plat::RegFileKey &key : plat::parse_reg_file(bytes, root)) {
            if (!plat::reg_name_equal(key.path, key.path)) std::abort();
            for (const plat::RegFileValue &v : key.values)
                if (v.type == 1 && (v.data.empty() || v.data.back() != '\0')) std::abort(); // REG_SZ ends in NUL
        }
    }
    return 0;
}
