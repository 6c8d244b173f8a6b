// output/viewers.h: the viewer files written at the end of a mapping run.
#pragma once

int write_gmv();        // quorvel.gmv
int write_ensight();    // ensight/, ASCII or binary by settings.ensight_outputfiles
int write_fieldview();  // quorvel_ascii.uns or quorvel.uns by the sign of the option
