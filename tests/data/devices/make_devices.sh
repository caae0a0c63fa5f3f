#!/bin/sh
# Builds the machine the device-list tests look at: a sysfs-like tree below
# root/ (sys/block links into sys/devices, as the kernel lays them out), a
# mount table (root/proc/self/mountinfo), udev label links and, as root/dev/NAME.img.gz,
# the images that stand in for the device nodes. Needs sfdisk, dosfstools,
# ntfs-3g (mkfs.ntfs), exfatprogs and e2fsprogs; no root.
#
#   mmcblk0  SD card (mmc_host), one ext4 partition mounted at /srv/sd
#   nvme0n1  NVMe disk, one exFAT partition mounted at "/media/user/NVMe Data";
#            no udev label link, so the label comes from the volume itself
#   sdb      USB stick, removable, one FAT32 partition mounted at /media/stick;
#            its udev link says "USB STICK" while the FAT label is "STICK",
#            so a test sees which one was taken
#   sdc      SATA disk: sdc1 NTFS (65 MiB, above the 64 MiB a volume needs to
#            be recognised unmounted), sdc2 the extended container, sdc5 an
#            unformatted logical partition; nothing mounted
#   sdd      a SCSI disk that sysfs lists but /dev lacks (cannot be opened)
#   loop0    a loop device with a backing file, a bare FAT16 volume mounted
#            at /mnt/floppy (no partition table)
#   left out: loop1 (no backing file), ram0, zram0, dm-0 (mounted as /),
#            sr0 (optical), mmcblk0boot0 (eMMC boot area)
set -eu
cd "$(dirname "$0")"
export TZ=UTC
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rm -rf root
mkdir -p root/dev root/proc/self

disk() {  # name sectors sfdisk-script
    truncate -s $(($2 * 512)) "$tmp/$1"
    printf '%s\n' "$3" | sfdisk -q "$tmp/$1" >/dev/null
}
place() {  # disk partition-image start-sector
    dd if="$tmp/$2" of="$tmp/$1" bs=512 seek="$3" conv=notrunc status=none
}

# mmcblk0: 4 MiB, p1 at 2048, 3 MiB ext4.
truncate -s 3M "$tmp/mmcblk0p1"
mkfs.ext4 -q -F -O ^has_journal -L sdcard -U 6b0a2c4e-1f7d-4a39-9c55-0d2b8e3f7a11 \
    -E root_owner=0:0 "$tmp/mmcblk0p1"
disk mmcblk0 8192 'label: dos
start=2048, size=6144, type=83'
place mmcblk0 mmcblk0p1 2048

# nvme0n1: 8 MiB, p1 at 2048, 6 MiB exFAT.
truncate -s 6M "$tmp/nvme0n1p1"
mkfs.exfat -L NvmeData "$tmp/nvme0n1p1" >/dev/null
disk nvme0n1 16384 'label: dos
start=2048, size=12288, type=7'
place nvme0n1 nvme0n1p1 2048

# sdb: 36 MiB, p1 at 2048, 34 MiB FAT32 (the smallest with 512-byte clusters).
truncate -s 34M "$tmp/sdb1"
mkfs.fat -F 32 -s 1 -g 255/63 -h 2048 --invariant -n STICK "$tmp/sdb1" >/dev/null
disk sdb 73728 'label: dos
start=2048, size=69632, type=c'
place sdb sdb1 2048

# sdc: 69 MiB. p1 NTFS 133120 sectors at 2048; p2 extended at 135168 (4096
# sectors) holding p5 at 137216 (2048 sectors), left unformatted.
truncate -s $((133120 * 512)) "$tmp/sdc1"
mkfs.ntfs -F -Q -q -T -H 255 -S 63 -p 2048 -L "数据盘" "$tmp/sdc1" >/dev/null 2>&1
disk sdc 141312 'label: dos
start=2048, size=133120, type=7
start=135168, size=4096, type=5
start=137216, size=2048, type=83'
place sdc sdc1 2048
dd if="$tmp/sdc" of="$tmp/sdc5" bs=512 skip=137216 count=2048 status=none

# loop0: a bare 4 MiB FAT16 volume.
truncate -s 4M "$tmp/loop0"
mkfs.fat -F 16 -s 1 -g 255/63 --invariant -n FLOPPY "$tmp/loop0" >/dev/null

for n in mmcblk0 mmcblk0p1 nvme0n1 nvme0n1p1 sdb sdb1 sdc sdc1 sdc5 loop0; do
    gzip -9n < "$tmp/$n" > "root/dev/$n.img.gz"
done

python3 - <<'PY'
import os

root = "root/sys"

def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text + "\n")

def link(path, target):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(target, path)

def block(name, devpath, size, dev, removable=0, parts=(), device=None):
    """devpath: below sys/devices, the folder that holds block/NAME (or NAME itself)."""
    d = os.path.join(root, "devices", devpath, name)
    write(d + "/size", str(size))
    write(d + "/removable", str(removable))
    write(d + "/dev", dev)
    for pname, number, start, psize, pdev in parts:
        write(f"{d}/{pname}/partition", str(number))
        write(f"{d}/{pname}/start", str(start))
        write(f"{d}/{pname}/size", str(psize))
        write(f"{d}/{pname}/dev", pdev)
    if device:
        link(d + "/device", device)
    link(os.path.join(root, "block", name), os.path.relpath(d, os.path.join(root, "block")))
    return d

def attrs(folder, **values):
    for k, v in values.items():
        write(os.path.join(root, "devices", folder, k), v)

mmc = "platform/fe320000.mmc/mmc_host/mmc1/mmc1:59b4"
attrs(mmc, name="SD16G")
block("mmcblk0", mmc + "/block", 8192, "179:0",
      parts=[("mmcblk0p1", 1, 2048, 6144, "179:1")], device="../..")
block("mmcblk0boot0", mmc + "/block", 8192, "179:8", device="../..")

nvme = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0"
attrs(nvme, model="Samsung SSD 970 EVO Plus 1TB            ")
block("nvme0n1", nvme, 16384, "259:0",
      parts=[("nvme0n1p1", 1, 2048, 12288, "259:1")], device="..")

usb = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0"
attrs(usb, vendor="Kingston", model="DataTraveler 3.0")
block("sdb", usb + "/block", 73728, "8:16", removable=1,
      parts=[("sdb1", 1, 2048, 69632, "8:17")], device="../..")

sata = "pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0"
attrs(sata, vendor="ATA     ", model="WDC WD10EZEX-08W")
block("sdc", sata + "/block", 141312, "8:32",
      parts=[("sdc1", 1, 2048, 133120, "8:33"), ("sdc2", 2, 135168, 2, "8:34"),
             ("sdc5", 5, 137216, 2048, "8:37")], device="../..")

scsi = "LNXSYSTM:00/LNXSYBUS:00/ACPI0004:00/VMBUS:00/host7/target7:0:0/7:0:0:0"
attrs(scsi, vendor="Msft    ", model="Virtual Disk    ")
block("sdd", scsi + "/block", 2048, "8:48", device="../..")

optical = "pci0000:00/0000:00:17.0/ata4/host3/target3:0:0/3:0:0:0"
attrs(optical, vendor="HL-DT-ST", model="DVDRAM GH24NSD1 ")
block("sr0", optical + "/block", 2097152, "11:0", removable=1, device="../..")

virtual = "virtual/block"
d = block("loop0", virtual, 8192, "7:0")
write(d + "/loop/backing_file", "/srv/images/floppy.img")
block("loop1", virtual, 2048, "7:1")
block("ram0", virtual, 8192, "1:0")
block("zram0", virtual, 1048576, "252:0")
block("dm-0", virtual, 2097152, "253:0")
PY

cat > root/proc/self/mountinfo <<'MI'
21 1 253:0 / / rw,relatime shared:1 - ext4 /dev/mapper/vg-root rw,errors=remount-ro
22 21 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=4028k,mode=755
23 21 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw
40 21 179:1 / /srv/sd rw,relatime shared:30 - ext4 /dev/mmcblk0p1 rw
41 21 259:1 / /media/user/NVMe\040Data rw,nosuid,nodev,relatime shared:31 - exfat /dev/nvme0n1p1 rw,fmask=0022
42 21 8:17 / /media/stick rw,nosuid,nodev,relatime shared:32 - vfat /dev/sdb1 rw,fmask=0022,dmask=0022
43 21 7:0 / /mnt/floppy rw,relatime - vfat /dev/loop0 rw
MI

mkdir -p root/dev/disk/by-label
ln -s ../../sdb1 'root/dev/disk/by-label/USB\x20STICK'
ln -s ../../mmcblk0p1 root/dev/disk/by-label/sdcard
ln -s ../../sdc1 root/dev/disk/by-label/数据盘
ln -s ../../dm-0 root/dev/disk/by-label/root
