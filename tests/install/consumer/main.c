/* Encodes and decodes a short text through an installed tavrine, with both
 * interfaces. */
#include <stdio.h>
#include <string.h>
#include <tavrine.h>
#include <tavrine_api.h>

int main(void) {
    static const char text[] = "abracadabra";
    unsigned char stream[64], back[16];
    uint32_t streamLen = sizeof stream, backLen = sizeof back;
    size_t length = 0;
    if (!ZOLT_Encode(2, 5, text, 11, stream, &streamLen, NULL, NULL) || streamLen != 17) return 1;
    if (!ZOLT_Decode(2, stream, streamLen, back, &backLen, NULL, NULL)) return 1;
    if (backLen != 11 || memcmp(back, text, 11) != 0) return 1;
    if (tavrine_decode(stream, streamLen, back, sizeof back, &length, NULL, NULL, NULL) != TAVRINE_OK ||
        length != 11) {
        return 1;
    }
    printf("installed tavrine %s works\n", tavrine_version());
    return 0;
}
