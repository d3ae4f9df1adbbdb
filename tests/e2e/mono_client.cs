// The .NET ASMX client family as a legacy client: the proxy class that
// `wsdl` generated from the WSDL as served (compiled together with this
// file) calls GetFlightsOpSoap for each airport given and prints one line
// of JSON per airport: a list of objects, each holding every member of the
// generated record class with the value the client read (null stays null).
// Every character outside printable ASCII is written as a \u escape, so
// the output says exactly what the client decoded, whatever the console's
// encoding.
//
//   mono client.exe AIRPORT...
using System;
using System.Reflection;
using System.Text;

static class Program {
  static void AppendText(StringBuilder json, string text) {
    if (text == null) {
      json.Append("null");
      return;
    }
    json.Append('"');
    foreach (char c in text) {
      if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\')
        json.Append(c);
      else
        json.AppendFormat("\\u{0:x4}", (int)c);
    }
    json.Append('"');
  }

  // The generated record class keeps each element in a public field or a
  // public property, depending on the generator's options: both are read.
  static void AppendRecord(StringBuilder json, object record) {
    json.Append('{');
    bool first = true;
    const BindingFlags members = BindingFlags.Public | BindingFlags.Instance;
    foreach (MemberInfo m in record.GetType().GetMembers(members)) {
      object value;
      if (m is FieldInfo f && f.FieldType == typeof(string))
        value = f.GetValue(record);
      else if (m is PropertyInfo p && p.PropertyType == typeof(string))
        value = p.GetValue(record, null);
      else
        continue;
      if (!first) json.Append(',');
      first = false;
      AppendText(json, m.Name);
      json.Append(':');
      AppendText(json, (string)value);
    }
    json.Append('}');
  }

  static int Main(string[] args) {
    var service = new IDRUXservice();
    service.Timeout = 60000;
    try {
      foreach (string airport in args) {
        FlightOp[] records = service.GetFlightsOpSoap(airport);
        var json = new StringBuilder("[");
        for (int i = 0; records != null && i < records.Length; ++i) {
          if (i > 0) json.Append(',');
          AppendRecord(json, records[i]);
        }
        Console.WriteLine(json.Append(']').ToString());
      }
    } catch (Exception e) {
      Console.Error.WriteLine(e.ToString());
      return 1;
    }
    return 0;
  }
}
