// Loads libVeltrane through JNA, the way a Java host binds it, and checks the
// three undecorated entry points on a DEM/DOM packet built here (the grid is
// packed with java.util.zip.Deflater, which writes a zlib stream).
//
// The one-byte boolean result of JNA_GetDEMBuffer is checked both ways a Java
// host maps it: as a byte (the exact width) and as a boolean (JNA then reads a
// whole 32-bit int, so the library must return 0 or 1 in all of it).
import com.sun.jna.Library;
import com.sun.jna.Memory;
import com.sun.jna.Native;
import com.sun.jna.Pointer;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.zip.Deflater;

public class VeltraneJnaTest {
    public interface Veltrane extends Library {
        int JNA_GetDEMBufferSize(Pointer packet, int length);
        byte JNA_GetDEMBuffer(Pointer packet, int length, Pointer destination);
        float JNA_GetElevationInBuf(Pointer grid, double minX, double minY, double maxX, double maxY,
                                    double x, double y);
    }

    public interface VeltraneAsBoolean extends Library {
        boolean JNA_GetDEMBuffer(Pointer packet, int length, Pointer destination);
    }

    private static int failures = 0;

    private static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.out.println("FAILED: " + what);
        } else {
            System.out.println("ok: " + what);
        }
    }

    private static float sample(int r, int c) {
        return 100.0f + 10.0f * r + c + 0.25f;
    }

    // n, then n x n little-endian floats, rows north to south.
    private static byte[] grid(int n) {
        ByteBuffer b = ByteBuffer.allocate(1 + 4 * n * n).order(ByteOrder.LITTLE_ENDIAN);
        b.put((byte) n);
        for (int r = 0; r < n; r++)
            for (int c = 0; c < n; c++) b.putFloat(sample(r, c));
        return b.array();
    }

    private static byte[] deflate(byte[] data) {
        Deflater d = new Deflater();  // zlib wrapper (RFC 1950)
        d.setInput(data);
        d.finish();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] chunk = new byte[4096];
        while (!d.finished()) out.write(chunk, 0, d.deflate(chunk));
        d.end();
        return out.toByteArray();
    }

    // Leading tag byte, section tag, U, Z, stream.
    private static byte[] packet(int tag, int inflatedSize, byte[] stream) {
        ByteBuffer b = ByteBuffer.allocate(10 + stream.length).order(ByteOrder.LITTLE_ENDIAN);
        b.put((byte) 0xC3).put((byte) tag).putInt(inflatedSize).putInt(stream.length).put(stream);
        return b.array();
    }

    private static Memory native_(byte[] bytes) {
        Memory m = new Memory(bytes.length);
        m.write(0, bytes, 0, bytes.length);
        return m;
    }

    public static void main(String[] args) {
        Veltrane lib = Native.load("Veltrane", Veltrane.class);
        VeltraneAsBoolean asBoolean = Native.load("Veltrane", VeltraneAsBoolean.class);

        final int n = 4;
        byte[] gridBytes = grid(n);
        byte[] packetBytes = packet(1, gridBytes.length, deflate(gridBytes));
        Memory packet = native_(packetBytes);

        int size = lib.JNA_GetDEMBufferSize(packet, packetBytes.length);
        check(size == 65, "JNA_GetDEMBufferSize gives U = 65 (got " + size + ")");

        Memory buffer = new Memory(size);
        check(lib.JNA_GetDEMBuffer(packet, packetBytes.length, buffer) == 1, "JNA_GetDEMBuffer inflates the grid");
        check(java.util.Arrays.equals(buffer.getByteArray(0, size), gridBytes), "inflated grid equals the original");

        float v = lib.JNA_GetElevationInBuf(buffer, 0, 0, 100, 100, 0, 100);
        check(v == sample(0, 0), "(0, 100) gives sample (0, 0): " + v);
        v = lib.JNA_GetElevationInBuf(buffer, 0, 0, 100, 100, 25, 75);
        check(v == sample(1, 1), "(25, 75) gives sample (1, 1): " + v);
        float west = (float) (sample(0, 0) * 0.5 + sample(1, 0) * 0.5);
        float east = (float) (sample(0, 1) * 0.5 + sample(1, 1) * 0.5);
        float blend = (float) (west * 0.5 + east * 0.5);
        v = lib.JNA_GetElevationInBuf(buffer, 0, 0, 100, 100, 12.5, 87.5);
        check(v == blend, "(12.5, 87.5) gives the single-precision blend " + blend + ": " + v);
        v = lib.JNA_GetElevationInBuf(buffer, 0, 0, 100, 100, 100 + 1e-6, 50);
        check(v == 0.0f, "a position east of the bounds gives 0: " + v);
        v = lib.JNA_GetElevationInBuf(buffer, 0, 0, 100, 100, Double.NaN, 50);
        check(v == 0.0f, "a NaN position gives 0: " + v);
        v = lib.JNA_GetElevationInBuf(buffer, 0, 0, 100, 100, 100, 0);
        check(v == sample(3, 3), "the south-east corner gives sample (3, 3): " + v);

        // The grid one byte off its allocation's alignment reads the same.
        Memory shifted = new Memory(size + 1);
        shifted.write(1, gridBytes, 0, size);
        v = lib.JNA_GetElevationInBuf(shifted.share(1), 0, 0, 100, 100, 25, 75);
        check(v == sample(1, 1), "an unaligned grid reads the same: " + v);

        // An orthophoto-only packet has no elevation section.
        byte[] ortho = packet(2, gridBytes.length, deflate(gridBytes));
        Memory orthoPacket = native_(ortho);
        check(lib.JNA_GetDEMBufferSize(orthoPacket, ortho.length) == 0, "orthophoto-only packet has size 0");
        check(lib.JNA_GetDEMBuffer(orthoPacket, ortho.length, buffer) == 0, "orthophoto-only packet gives false");
        check(!asBoolean.JNA_GetDEMBuffer(orthoPacket, ortho.length, buffer),
              "orthophoto-only packet gives false, read as a Java boolean");
        check(asBoolean.JNA_GetDEMBuffer(packet, packetBytes.length, buffer),
              "a good packet gives true, read as a Java boolean");

        // A damaged stream keeps its size but does not inflate.
        byte[] damaged = packetBytes.clone();
        damaged[damaged.length - 1] ^= 0x01;
        Memory damagedPacket = native_(damaged);
        check(lib.JNA_GetDEMBufferSize(damagedPacket, damaged.length) == 65, "damaged stream still reports U");
        check(lib.JNA_GetDEMBuffer(damagedPacket, damaged.length, buffer) == 0, "damaged stream gives false");
        check(!asBoolean.JNA_GetDEMBuffer(damagedPacket, damaged.length, buffer),
              "damaged stream gives false, read as a Java boolean");

        // A length one short of the section: nothing past it is read.
        check(lib.JNA_GetDEMBufferSize(packet, packetBytes.length - 1) == 0, "a cut packet has size 0");
        check(lib.JNA_GetDEMBuffer(packet, packetBytes.length - 1, buffer) == 0, "a cut packet gives false");
        check(!asBoolean.JNA_GetDEMBuffer(packet, 1, buffer), "a 1-byte packet gives false, read as a Java boolean");

        if (failures != 0) {
            System.out.println(failures + " check(s) failed");
            System.exit(1);
        }
        System.out.println("all checks passed");
    }
}
