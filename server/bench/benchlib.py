"""What the server's benchmarks share: their figures and the WebSocket frames a non-blocking
player reads."""

import struct


def percentile(values, fraction):
    """The value at `fraction` of the sorted `values` (0.0 when there are none)."""
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else 0.0


def ms(seconds, places=2):
    return f"{seconds * 1000:.{places}f} ms"


def unframe(buffer):
    """The whole WebSocket frames at the start of `buffer`, as (opcode, payload, framed bytes),
    and the bytes after them (a frame cut short)."""
    frames = []
    while len(buffer) >= 2:
        opcode, size, at = buffer[0] & 0x0F, buffer[1] & 0x7F, 2
        if size == 126:
            if len(buffer) < 4:
                break
            size, at = struct.unpack(">H", buffer[2:4])[0], 4
        elif size == 127:
            if len(buffer) < 10:
                break
            size, at = struct.unpack(">Q", buffer[2:10])[0], 10
        if len(buffer) < at + size:
            break
        frames.append((opcode, buffer[at : at + size], at + size))
        buffer = buffer[at + size :]
    return frames, buffer
