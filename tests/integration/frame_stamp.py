"""The stamp the simulator draws into every picture (tools/common/frame_stamp.cpp), read back
in Python by the tests that look at the receiver's pictures."""

STAMP_COLUMNS, STAMP_ROWS = 32, 4


def stamp_block(width, height):
    block = min(width // STAMP_COLUMNS, height // (4 * STAMP_ROWS)) & ~1
    return block if block >= 4 else 0


def read_stamp(luma, width, height):
    """(index, send time in us) from a picture whose luma plane, rows of `width` bytes, starts
    `luma` (an NV12 picture will do), or None when the mark fails its check."""
    block = stamp_block(width, height)
    half = block // 2
    bits = 0
    for bit in range(STAMP_COLUMNS * STAMP_ROWS):
        x0 = (bit % STAMP_COLUMNS) * block + block // 4
        y0 = (bit // STAMP_COLUMNS) * block + block // 4
        total = sum(sum(luma[y * width + x0:y * width + x0 + half]) for y in range(y0, y0 + half))
        if total > half * half * 128:
            bits |= 1 << bit
    index, time_us, check = bits & 0xFFFFFFFF, (bits >> 32) & (2**64 - 1), bits >> 96
    mask = 0xFFFFFFFF
    expected = (0x4B565853 ^ ((index * 0x9E3779B1) & mask) ^ (time_us & mask)
                ^ (((time_us >> 32) * 0x85EBCA6B) & mask))
    return (index, time_us) if check == expected else None
