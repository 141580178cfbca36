// The upgrade codes of the maker's own products that every run uninstalls, whatever the
// configuration says. The order is fixed and some are written in lower case: they are
// handed to the installer exactly as written. The README lists the same codes.
#pragma once

#include <cstddef>

namespace engine {

inline constexpr const char* kBuiltInUpgradeCodes[] = {
    "{C6E6DE62-3579-4AB7-84F4-DD97EFA97976}", "{CCF0D58C-A13A-483C-B17D-0F432A94E8AF}",
    "{5D8DA696-9112-417B-A4C3-0F3213DF4E85}", "{b315d5a3-9a2c-4388-a77b-0c794b351172}",
    "{245AD883-64A7-46AF-A384-9A507E395957}", "{FB8F881C-B450-4A7B-92E5-76CBCCE3E209}",
    "{C0A38FA7-DD63-454C-994F-57D24A8CC426}", "{c7532299-30d9-4b62-bdee-0647cd7db790}",
    "{A8EDE316-272A-40BD-A1AB-23A06E5EBA19}", "{99B7B1AD-7C60-422F-BB89-A26426E0CFA4}",
    "{AF14F8AF-4E1D-475F-8704-DDB3A4199DBB}", "{B186A89F-CA74-4ADA-A27A-5559B61589FF}",
    "{a9273f9e-c462-4514-8639-dcb102a6949e}", "{E47E8BC8-A774-4F3F-9D6F-8B42BB4E3A55}",
    "{93AE553E-83EF-42C5-93F1-F472A6E6CD0F}", "{883BB1D8-A8E2-4631-BCBE-279CED3207D1}",
};
inline constexpr size_t kBuiltInUpgradeCodeCount =
    sizeof(kBuiltInUpgradeCodes) / sizeof(kBuiltInUpgradeCodes[0]);
static_assert(kBuiltInUpgradeCodeCount == 16, "the built-in list holds sixteen codes");

}  // namespace engine
