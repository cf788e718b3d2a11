// Prints what PixelMed's SCP-ECG classes decode from a record: the sample
// interval, then one line per lead, its name and its samples.
import com.pixelmed.dicom.BinaryInputStream;
import com.pixelmed.scpecg.SCPECG;
import java.io.FileInputStream;

public class PixelmedDump {
  public static void main(String[] args) throws Exception {
    SCPECG ecg = new SCPECG(new BinaryInputStream(new FileInputStream(args[0]), false), false);
    short[][] leads = ecg.getDecompressedRhythmData();
    String[] names = ecg.getLeadNames();
    StringBuilder out = new StringBuilder();
    out.append("interval ").append(ecg.getDecompressedRhythmDataSampleTimeInterval()).append('\n');
    for (int l = 0; l < leads.length; ++l) {
      out.append(names[l]).append(':');
      for (short s : leads[l]) out.append(' ').append(s);
      out.append('\n');
    }
    System.out.print(out);
  }
}
