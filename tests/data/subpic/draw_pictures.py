import struct, sys, zlib
def write_png(path, w, h, pix):
    raw = b''.join(b'\0' + bytes(c for x in range(w) for c in pix(x, y)) for y in range(h))
    def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
CLEAR, WHITE, BLACK, RED, YELLOW, BLUE = (0,0,0,0), (255,255,255,255), (0,0,0,255), (255,0,0,255), (255,255,0,255), (0,0,255,255)
def box(x, y, x0, y0, w, h): return x0 <= x < x0 + w and y0 <= y < y0 + h
def a(x, y):
    if not box(x, y, 37, 351, 641, 61): return CLEAR
    if not box(x, y, 40, 354, 635, 55): return BLACK
    return RED if (x - 45) % 7 < 2 else WHITE
def b(x, y):
    if box(x, y, 10, 21, 700, 7): return YELLOW
    if box(x, y, 300, 30, 17, 300): return BLUE
    return CLEAR
def c(x, y):
    if y < 420: return CLEAR
    d = (x + 3 * y) % 97
    return CLEAR if d < 20 else WHITE if d < 70 else BLACK if d < 90 else RED
write_png(sys.argv[1] + '/a.png', 720, 480, a)
write_png(sys.argv[1] + '/b.png', 720, 480, b)
write_png(sys.argv[1] + '/c.png', 720, 576, c)
