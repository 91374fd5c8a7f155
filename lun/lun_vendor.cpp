// The vendor's names and the rules by which the programs recognise them.
#include "lun_vendor.h"

#include <string.h>

const char* const kLunVendorNames[] = {"QELMAR", "ZUNTA"};
const size_t kLunVendorCount = sizeof kLunVendorNames / sizeof kLunVendorNames[0];

bool lun_IsVendorName(const char* trimmed) {
    for (size_t i = 0; trimmed != nullptr && i < kLunVendorCount; ++i) {
        if (strcmp(trimmed, kLunVendorNames[i]) == 0) {
            return true;
        }
    }
    return false;
}

bool lun_VendorFieldIsVendor(const char* field) {
    for (size_t i = 0; field != nullptr && i < kLunVendorCount; ++i) {
        if (strncmp(field, kLunVendorNames[i], strlen(kLunVendorNames[i])) == 0) {
            return true;
        }
    }
    return false;
}

bool lun_LineNamesVendor(const char* line) {
    return lun_VendorNamedIn(line) != nullptr;
}

const char* lun_VendorNamedIn(const char* line) {
    for (size_t i = 0; line != nullptr && i < kLunVendorCount; ++i) {
        if (strstr(line, kLunVendorNames[i]) != nullptr) {
            return kLunVendorNames[i];
        }
    }
    return nullptr;
}
