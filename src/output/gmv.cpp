// output/gmv.cpp: placeholder until the viewer writers land.
#include "output/viewers.h"
#include "platform/fatal.h"

int write_gmv() { say("The GMV file is not supported yet; quorvel.gmv not written\n"); return 0; }
int write_ensight() { say("EnSight files are not supported yet; ensight/ not written\n"); return 0; }
int write_fieldview() { say("FieldView files are not supported yet; no .uns file written\n"); return 0; }
