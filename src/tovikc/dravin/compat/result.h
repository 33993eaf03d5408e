// Stand-in for the result texts while the frame is not in the tree.
#ifndef RESULT_H
#define RESULT_H
typedef struct GS_Result { char *text; int len; } GS_Result;
GS_Result *GS_CreateResult(void);
void GS_AppendResult(GS_Result *r, ...);
void GS_ResetResult(GS_Result *r);
void GS_DeleteResult(GS_Result *r);
#endif
