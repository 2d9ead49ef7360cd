{"format":"kovira-dataset","version":1,
 "fields":[{"name":"amount","type":37,"size":2},{"name":"paymentType","type":3,"size":0}],
 "records":[["10",1]]}
