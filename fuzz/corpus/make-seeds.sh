#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets: a handful of small hand-made inputs each. Run it
# again after changing it; the seeds are kept in the repository. A crash's input that a fix made
# harmless is kept beside them under its own name (see README.md), not made by this script.
#
#   bash fuzz/corpus/make-seeds.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

bytes() { printf "$(printf '\\x%02x' "$@")"; }      # bytes 0x01 0x16 ...
le16() { bytes $(($1 & 255)) $(($1 >> 8 & 255)); }
le32() { bytes $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
zeros() { head -c "$1" /dev/zero; }
filler() { head -c "$1" /dev/zero | tr '\0' '\245'; }  # 0xA5, so that payload bytes are visible

# --- image_fuzzer: whole .dat files ---
# image LEAD_SIZE VERSION BETA PAYLOAD_LENGTH BYTES_PRESENT: the 16-byte file header with the
# big-endian lead size at byte 12, the lead section (512 + LEAD_SIZE bytes), the 28-byte image
# header, then BYTES_PRESENT bytes of payload (and trailer).
image() {
  local lead=$1 version=$2 beta=$3 length=$4 present=$5
  zeros 12; bytes $((lead >> 8)) $((lead & 255)); zeros 2
  zeros $((512 + lead - 16))
  le16 "$version"; bytes "$beta" 0; le32 0x08004000; le32 "$length"; zeros 16
  filler "$present"
}
mkdir -p image_fuzzer
image 0 115 0 100 100 >image_fuzzer/usable-payload-100
image 4 115 0 20 44 >image_fuzzer/usable-payload-20-with-trailer
image 0 116 3 64 64 >image_fuzzer/usable-beta
image 0 115 0 100 99 >image_fuzzer/payload-beyond-end
image 0 115 0 0 8 >image_fuzzer/empty-payload
image 0 115 0 4096 0 | head -c 530 >image_fuzzer/ends-inside-image-header
{ zeros 12; bytes 0xFF 0xFF; zeros 34; } >image_fuzzer/header-offset-beyond-end
zeros 15 >image_fuzzer/shorter-than-file-header

# --- reply_fuzzer: an image selector byte, then 64-byte input reports (report ID first) ---
# report OPCODE BYTE6 [MARKER]: a short reply; byte 2 (the marker) is 0 unless given.
report() { bytes 0x01 0x05 "${3:-0}" "$1" 0x00 0x00 "$2"; zeros 57; }
ready() { report 0x19 0x00; }
ack() { report 0x16 0x14; }
version_reply() { bytes 0x01 0x0B 0x00 0x16 0x00 0x00 0x04 0x00 0x00; le32 105; zeros 51; }
mkdir -p reply_fuzzer
{ bytes 0; ready; for _ in 1 2 3 4 5; do ack; done; } >reply_fuzzer/whole-run-payload-100
{ bytes 1; ready; ack; ack; ack; } >reply_fuzzer/whole-run-payload-20
{ bytes 0; ready; ack; ack; report 0x16 0x15; ack; } >reply_fuzzer/failure-reply-mid-run
{ bytes 3; ready; ack; report 0x16 0x18; } >reply_fuzzer/other-failure-reply
{ bytes 2; ready; ack; report 0x14 0x32; ack; } >reply_fuzzer/memory-reply-ends-run
{ bytes 3; version_reply; report 0x16 0x14 0x07; report 0x42 0x14;
  ready; ack; ready; ack; } >reply_fuzzer/version-unmarked-unknown-and-repeated-ready

# --- usb_id_fuzzer: idVendor / idProduct attributes ---
mkdir -p usb_id_fuzzer
printf '3a7e\n' >usb_id_fuzzer/vendor-lower-case
printf '6A01' >usb_id_fuzzer/product-upper-case-without-newline
printf '12345\n' >usb_id_fuzzer/five-digits
printf '0x3a\n' >usb_id_fuzzer/with-prefix

# --- mount_info_fuzzer: mount tables ---
mkdir -p mount_info_fuzzer
cat >mount_info_fuzzer/desktop-with-stick <<'TABLE'
22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro
25 22 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw
36 22 8:17 / /media/user/UPDATE rw,nosuid,nodev,relatime shared:50 - vfat /dev/sdb1 rw,uid=1000
37 22 0:45 / /mnt/server rw,relatime shared:60 - nfs4 server:/export rw,vers=4.2
TABLE
cat >mount_info_fuzzer/escaped-and-stacked <<'TABLE'
40 22 0:35 / /mnt/with\040blank rw shared:2 master:3 - tmpfs tmp\134fs rw
41 40 8:33 / /mnt/with\040blank rw - vfat /dev/sdc1 rw
42 22 8:34 / /mnt/odd\04 rw - vfat /dev/sdc2 rw
no separator here at all
43 22 8:x / /bad rw - vfat /dev/sdc3 rw
TABLE

# --- report_descriptor_fuzzer: report descriptors (also framed as an input report) ---
mkdir -p report_descriptor_fuzzer
# Vendor page, collection, report ID 1 with 63 bytes in, report ID 0x81 with 63 bytes out.
bytes 0x06 0x00 0xFF 0x09 0x01 0xA1 0x01 0x85 0x01 0x09 0x02 0x15 0x00 0x26 0xFF 0x00 0x75 0x08 \
  0x95 0x3F 0x81 0x02 0x85 0x81 0x09 0x03 0x95 0x3F 0x91 0x02 0xC0 >report_descriptor_fuzzer/numbered
# The same without report IDs, and with a long item.
bytes 0x06 0x00 0xFF 0x09 0x01 0xA1 0x01 0x09 0x02 0x75 0x08 0x95 0x40 0x81 0x02 0xFE 0x02 0x10 \
  0x85 0x01 0xC0 >report_descriptor_fuzzer/unnumbered-with-long-item
bytes 0x06 0x00 0xFF 0x85 0x00 >report_descriptor_fuzzer/report-id-zero
bytes 0x06 0x00 0xFF 0x27 0x01 0x02 >report_descriptor_fuzzer/item-cut-short
