// Types of dorvane.js: DorvaneBMPBlur's BMP codec and exact jobs in WebAssembly.

/** A file that the BMP format's rules, as the library reads them, reject; the message is the
 * library's reason, in the words of the tool bmpblur. */
export class FormatError extends Error {}

/** The module's memory ran out (WebAssembly's memory is at most 4 GiB). */
export class OutOfMemoryError extends Error {}

/** Which build of the library runs: "simd128" (WebAssembly's 128-bit SIMD) or "plain". */
export const vectors: 'simd128' | 'plain';

/** The bytes of a file or a picture. */
export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView;

export interface ReadOptions {
  /** Called with "truncated, N of M rows read" for a source cut short, which is read all the
   * same; by default the words go to console.warn. */
  onWarning?: (message: string) => void;
}

/** The file that `bmpblur SOURCE OUTPUT` writes for the BMP file of `source`. */
export function blur(source: Bytes, options?: ReadOptions): Uint8Array;

/** The file that `bmpblur edges SOURCE OUTPUT` writes for the BMP file of `source`. */
export function edges(source: Bytes, options?: ReadOptions): Uint8Array;

/** The file that `bmpblur scale SOURCE OUTPUT MODE VALUE` writes: mode "P" (percent), "W"
 * (width), "H" (height) or "F" (the longer side), value at least 1. A scaling that the tool
 * refuses as an unusable argument is a RangeError with its words. */
export function scale(source: Bytes, mode: 'P' | 'W' | 'H' | 'F', value: number,
                      options?: ReadOptions): Uint8Array;

/** The fields of a BMP file's two headers under their published names. */
export interface Header {
  bfType: number;
  bfSize: number;
  bfReserved1: number;
  bfReserved2: number;
  bfOffBits: number;
  biSize: number;
  biWidth: number;
  biHeight: number;
  biPlanes: number;
  biBitCount: number;
  biCompression: number;
  biSizeImage: number;
  biXPelsPerMeter: number;
  biYPelsPerMeter: number;
  biClrUsed: number;
  biClrImportant: number;
}

/** Both headers of a BMP file, as the file holds them. */
export function header(source: Bytes): Header;

/** A picture: red, green and blue of pixel (x, y) at 3 (y width + x), row 0 at the top. */
export interface RgbPicture {
  width: number;
  height: number;
  rgb: Uint8Array;
}

/** A gray picture: pixel (x, y) at y width + x, row 0 at the top. */
export interface GrayPicture {
  width: number;
  height: number;
  gray: Uint8Array;
}

/** The picture of a BMP file at 1, 4, 8, 16, 24 or 32 bits per pixel. */
export function readBmp(source: Bytes, options?: ReadOptions): RgbPicture;

/** The BMP file of a picture at `bitDepth` bits per pixel (24 by default). At 1, 4 and 8 bits the
 * file has the standard palette of its depth and each pixel the nearest entry. */
export function writeBmp(picture: RgbPicture | GrayPicture,
                         bitDepth?: 1 | 4 | 8 | 16 | 24 | 32): Uint8Array;
