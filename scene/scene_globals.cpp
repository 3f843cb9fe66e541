// Process-wide tables shared by every scene of the show.
#include "scene/scene.h"

namespace orvl {

int texture_counter = 0;

float tint_table[kParticleTints * 3] = {
    1.0f,  0.5f,  0.5f,  1.0f, 0.75f, 0.5f,  1.0f, 1.0f,  0.5f,  0.75f, 1.0f, 0.5f,
    0.5f,  1.0f,  0.5f,  0.5f, 1.0f,  0.75f, 0.5f, 1.0f,  1.0f,  0.5f,  0.75f, 1.0f,
    0.5f,  0.5f,  1.0f,  0.75f, 0.5f, 1.0f,  1.0f, 0.5f,  1.0f,  1.0f,  0.5f, 0.75f,
};

}  // namespace orvl
