#pragma once
// Reading vCard files (versions 2.1, 3.0 and 4.0) into the cards the contact
// window shows. Lines folded by a leading blank, QUOTED-PRINTABLE values with
// soft line breaks and CHARSET parameters (2.1), TYPE parameters in all their
// spellings, escaped text values, tel: URIs and inline photos are understood;
// whatever else a card holds is passed over. A damaged card yields what could
// be read of it, never an error.

#include <cstddef>
#include <string_view>
#include <vector>

#include "core/contact_card.h"

namespace tolvar {

std::vector<ContactCard> ParseVCards(std::string_view text);

// A card with the bytes it was read from: from its BEGIN line to the end of
// its END line (or to where the next card begins, when its end is missing).
struct PlacedCard {
    ContactCard card;
    std::size_t offset = 0;
    std::size_t length = 0;
};
std::vector<PlacedCard> ParseVCardsPlaced(std::string_view text);

}  // namespace tolvar
