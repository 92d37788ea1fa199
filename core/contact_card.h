#pragma once
// One card of the address book as the contact window shows it: plain text in
// UTF-8, the photo as the bytes of an image file.

#include <string>
#include <vector>

namespace tolvar {

struct ContactCard {
    struct Phone {
        std::string number;    // as the card has it (a tel: URI without its scheme)
        std::string type;      // "mobil", "privat, Fax", ...; empty when the card names none
        std::string compared;  // the form a caller's number is compared with
    };
    std::string formattedName;
    std::string organisation;
    std::vector<Phone> phones;
    std::vector<std::string> emails;
    std::vector<unsigned char> photo;  // empty: none, or only a link to one
};

}  // namespace tolvar
