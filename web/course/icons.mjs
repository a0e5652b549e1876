// The course site's icons, drawn here so that no image file needs keeping:
// the page's logo, a white diamond, on a rounded square in its accent
// colour, as an SVG and as the PNGs that installing the site as an app asks
// for.
import { deflateSync } from "node:zlib";

const ACCENT = [0x2f, 0x5b, 0xd3];
const RADIUS = 0.2; // of the side, the corners' rounding
const DIAMOND = 0.3; // of the side, from the centre to a point

export const SVG = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100">
<rect width="100" height="100" rx="${RADIUS * 100}" fill="#${ACCENT.map((c) => c.toString(16).padStart(2, "0")).join("")}"/>
<path d="M50 ${50 - DIAMOND * 100}L${50 + DIAMOND * 100} 50L50 ${50 + DIAMOND * 100}L${50 - DIAMOND * 100} 50Z" fill="#fff"/>
</svg>
`;

// Where a point (in units of the side, 0..1) falls: 0 outside, 1 on the
// square, 2 on the diamond.
function shape(x, y) {
  const dx = Math.max(RADIUS - x, x - (1 - RADIUS), 0);
  const dy = Math.max(RADIUS - y, y - (1 - RADIUS), 0);
  if (dx * dx + dy * dy > RADIUS * RADIUS) return 0;
  return Math.abs(x - 0.5) + Math.abs(y - 0.5) <= DIAMOND ? 2 : 1;
}

const CRC = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = CRC[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, "latin1"), data]);
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

// The icon as a PNG of `size` pixels a side (RGBA, each pixel sampled 4×4
// times so that the edges are smooth).
export function png(size) {
  const SAMPLES = 4;
  const rows = Buffer.alloc(size * (1 + 4 * size));
  for (let y = 0; y < size; y++) {
    const row = y * (1 + 4 * size); // each row starts with its filter, 0: none
    for (let x = 0; x < size; x++) {
      let square = 0;
      let diamond = 0;
      for (let i = 0; i < SAMPLES * SAMPLES; i++) {
        const at = shape((x + ((i % SAMPLES) + 0.5) / SAMPLES) / size, (y + (Math.floor(i / SAMPLES) + 0.5) / SAMPLES) / size);
        square += at > 0;
        diamond += at === 2;
      }
      const white = square ? diamond / square : 0; // the diamond's share of what is drawn
      const px = row + 1 + 4 * x;
      ACCENT.forEach((c, k) => (rows[px + k] = Math.round(c + (255 - c) * white)));
      rows[px + 3] = Math.round((255 * square) / (SAMPLES * SAMPLES));
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header.set([8, 6, 0, 0, 0], 8); // 8 bits, RGBA, deflate, no filter method, no interlace
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk("IHDR", header),
    chunk("IDAT", deflateSync(rows, { level: 9 })),
    chunk("IEND", Buffer.alloc(0)),
  ]);
}
