// GIF files that carry no colour table at all. GDI+ under Wine reads a null palette on
// them and takes the whole process down, so they are never handed to it as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the GIF in these bytes (a whole file) has neither a global colour table nor a
// local one on its first picture.
bool LacksGifPalette(const uint8_t* data, size_t size);

// Gives such a GIF a global grey ramp from black to white over the colours its first
// picture can hold, as GIF readers do by default: a 1-bit picture comes out black and white.
void AddGreyPalette(std::vector<uint8_t>& gif);
